#!/usr/bin/env bash
# Takes a picture of the installer's progress dialog in the middle of a real
# download, under Xvfb: the real check starts the real installer, which fetches
# the sample package from the information server on the loopback.
#   tools/screenshot-progress.sh [PRESET] [OUTPUT.png]
# Needs a built tree (cmake --build --preset PRESET) and ImageMagick's import.
set -euo pipefail
cd "$(dirname "$0")/.."
preset=${1:-x64}
output=${2:-docs/progress-dialog.png}
build=$PWD/build/$preset
prefix=$build/wineprefix-shot
root=$build/infoserver-shot
loader=/usr/lib/wine/wine64
[ "$preset" = x86 ] && loader=/usr/lib/wine/wine

export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
# A prefix of its own, with Wine's real graphics driver, so the dialog is drawn.
if [ ! -f "$prefix/.orvex-shot" ]; then
  rm -rf "$prefix"
  /usr/lib/wine/wine64 wineboot -i </dev/null >/dev/null 2>&1
  wineserver -w
  touch "$prefix/.orvex-shot"
fi
cp "$build/bin/OrvexInstaller.exe" "$prefix/drive_c/windows/OrvexInstaller.exe"

# The sample package, served slowly enough to be seen downloading.
rm -rf "$root"
mkdir -p "$root/shotviewer/download"
package=$build/bin/tests/sample_setup.exe
cp "$package" "$root/shotviewer/download/shotviewer_2-4-0-1.exe"
printf '7|2.4.0.1|0.0.0.0|%s|first|Shot Viewer opens the documents of this page. This is the sample product the tests install.' \
  "$(stat -c %s "$package")" > "$root/shotviewer/info.txt"
echo '{"drip": {"chunk": 4096, "delay_ms": 60}}' > "$root/shotviewer/download/shotviewer_2-4-0-1.exe.fault"

mkdir -p "$(dirname "$output")"
xvfb-run -a -s "-screen 0 640x480x24" bash -c '
  set -eu
  wineserver -k 2>/dev/null || true
  unshare -n sh -c "
    ip link set lo up
    python3 tests/support/info_server.py --root \"$1\" --port 80 --pidfile \"$1/.pid\" --ready-file \"$1/.ready\" </dev/null >/dev/null 2>&1 &
    wineserver -p </dev/null >/dev/null 2>&1
  " sh "$1"
  until [ -f "$1/.ready" ]; do sleep 0.1; done
  "$2" "$3/bin/tests/check_runner.exe" ShotViewer </dev/null >/dev/null 2>&1 &
  sleep 6
  import -window root "$4"
  wineserver -k
  kill "$(cat "$1/.pid")" 2>/dev/null || true
' sh "$root" "$loader" "$build" "$output"
echo "screenshot: $output"
