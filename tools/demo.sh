#!/usr/bin/env bash
# The whole road, once, on the embedded default: a fresh Wine prefix with the
# installer in its Windows directory and the control registered by the prefix's
# own regsvr32; the information server on the loopback of a private network
# namespace, serving the sample product "Quillon" as the publishing tool lays
# it out; a page that embeds the control, opened twice by the page host. The
# first opening installs the viewer, the second finds it installed and starts
# nothing. Prints an account of each step with its timing, leaves screenshots
# in the output folder, and exits 0 only when every step did what it says.
#
#   bash tools/demo.sh [--arch x64|x86] [--out DIR] [--keep-prefix] [--display]
#     --arch         which build to run (default x64)
#     --out DIR      output folder (default build/demo-ARCH)
#     --keep-prefix  reuse the prefix of an earlier run instead of a fresh one
#     --display      use the display in $DISPLAY instead of a virtual one
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$PWD

arch=x64
out=""
keep=0
use_display=0
while [ $# -gt 0 ]; do
  case "$1" in
    --arch) arch="$2"; shift 2 ;;
    --out) out="$2"; shift 2 ;;
    --keep-prefix) keep=1; shift ;;
    --display) use_display=1; shift ;;
    -h|--help) sed -n '2,16p' "$0"; exit 0 ;;
    *) echo "demo: unknown option $1 (see --help)" >&2; exit 2 ;;
  esac
done
case "$arch" in x64|x86) ;; *) echo "demo: --arch is x64 or x86" >&2; exit 2 ;; esac
[ -n "$out" ] || out="$repo/build/demo-$arch"
mkdir -p "$out"
out=$(cd "$out" && pwd)

# The demo runs inside a private network namespace of its own, where port 80
# is always free and nothing leaves the machine: the information server, the
# prefix's wineserver and every program of the prefix share it.
if [ -z "${ORVEX_DEMO_INSIDE:-}" ]; then
  start=$(date +%s.%N)
  echo "== Orvex Smart Installer demo ($arch) =="
  echo "-- preparing: packages and build"
  bash tools/install-deps.sh
  if [ "$arch" = x86 ] && ! reason=$(sh cmake/runs-32bit.sh /usr/lib/wine/wine); then
    echo "demo: the x86 demo cannot run here: $reason" >&2
    exit 1
  fi
  if ! command -v import >/dev/null 2>&1; then
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends imagemagick >/dev/null
  fi
  cmake --preset "$arch" >"$out/configure.log" 2>&1 || { cat "$out/configure.log"; exit 1; }
  cmake --build --preset "$arch" >"$out/build.log" 2>&1 || { tail -n 40 "$out/build.log"; exit 1; }
  awk -v a="$start" -v b="$(date +%s.%N)" 'BEGIN { printf "   built in %.1f s\n", b - a }'
  args=(--arch "$arch" --out "$out")
  [ "$keep" = 1 ] && args+=(--keep-prefix)
  if [ "$use_display" = 1 ] && [ -n "${DISPLAY:-}" ]; then
    exec unshare -n env ORVEX_DEMO_INSIDE=1 bash "$0" "${args[@]}" --display
  fi
  exec xvfb-run -a -s "-screen 0 1024x768x24" unshare -n env ORVEX_DEMO_INSIDE=1 bash "$0" "${args[@]}"
fi

ip link set lo up
build="$repo/build/$arch"
bin="$build/bin"
loader=/usr/lib/wine/wine64
[ "$arch" = x86 ] && loader=/usr/lib/wine/wine
prefix="$out/prefix"
server="$out/server"
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
viewer_clsid="{6F1E2D3C-4B5A-4978-8A9B-0C1D2E3F4A5B}"
control_clsid="{5B3C2A71-8E4D-4F60-A1B2-6C7D8E9F0A12}"
failures=0
step_start=0

now() { date +%s.%N; }
begin() { step_start=$(now); printf -- '-- %s\n' "$1"; }
elapsed() { awk -v a="$step_start" -v b="$(now)" 'BEGIN { print b - a }'; }
ok() { printf '   ok   %s (%.1f s)\n' "$1" "$(elapsed)"; }
fail() { printf '   FAIL %s (%.1f s)\n' "$1" "$(elapsed)"; failures=$((failures + 1)); }
check() {  # check DESCRIPTION COMMAND...
  local what=$1; shift
  if "$@"; then ok "$what"; else fail "$what"; fi
}
win_path() { echo "Z:${1//\//\\}"; }
reg_view() { [ "$arch" = x64 ] && echo /reg:64 || echo /reg:32; }
reg_has() { "$loader" reg query "$1" $(reg_view) ${2:+/v "$2"} >/dev/null 2>&1; }
shot() { import -window root "$out/$1" 2>/dev/null; }
cleanup() {
  wineserver -k 2>/dev/null || true
  [ -f "$server/.pid" ] && kill "$(cat "$server/.pid")" 2>/dev/null || true
}
trap cleanup EXIT

# 1. A fresh prefix with the installer and the registered control.
begin "the Wine prefix (fresh unless kept), the installer in its Windows directory, the control registered"
if [ "$keep" = 0 ] || [ ! -f "$prefix/.demo-ready" ]; then
  rm -rf "$prefix"
  /usr/lib/wine/wine64 wineboot -i </dev/null >/dev/null 2>&1
  touch "$prefix/.demo-ready"
fi
wineserver -p 2>/dev/null || true
if [ "$keep" = 1 ]; then
  # A kept prefix forgets what an earlier run installed, so the first opening
  # is a first installation again.
  for key in "HKLM\\SOFTWARE\\Brindlewood\\Quillon" "HKLM\\SOFTWARE\\Brindlewood\\Downloads\\Quillon" \
             "HKCR\\CLSID\\$viewer_clsid"; do
    "$loader" reg delete "$key" /f $(reg_view) </dev/null >/dev/null 2>&1 || true
  done
  rm -f "$prefix"/drive_c/Program\ Files*/Brindlewood/Downloads/quillon_*.exe
fi
cp "$bin/OrvexInstaller.exe" "$prefix/drive_c/windows/OrvexInstaller.exe"
"$loader" regsvr32 /s "$(win_path "$bin/OrvexInstaller.dll")" </dev/null >/dev/null 2>&1 && registered=1 || registered=0
check "regsvr32 registered OrvexInstaller.dll ($control_clsid)" \
  test "$registered" = 1 -a -f "$prefix/drive_c/windows/OrvexInstaller.exe"
reg_has "HKCR\\CLSID\\$control_clsid\\InprocServer32" || fail "the control's class is not in the registry"

# 2. The information server, serving Quillon as the publishing tool lays it out.
begin "the information server on 127.0.0.1:80, serving \"Quillon\" published by the tool"
rm -rf "$server"
mkdir -p "$server"
publisher=$(sed -n 's/^ORVEX_PUBLISHER:STRING=//p' "$build/CMakeCache.txt")
publish_log="$out/publish.log"
signer=(--publisher="$publisher")
[ -n "$publisher" ] && signer+=(--ca-file "$build/test-certificates/root.crt")
if python3 tools/publish/orvex_publish.py --product Quillon --interval 7 \
     --description "Quillon opens the documents of this page. This is the sample viewer the tests install." \
     "${signer[@]}" --root "$server" "$bin/tests/sample_setup.exe" >"$publish_log" 2>&1; then
  published=1
else
  published=0
  cat "$publish_log"
fi
package=$(ls "$server/quillon/download/" 2>/dev/null | head -n 1 || true)
# Slow enough to be seen downloading.
[ -n "$package" ] && echo '{"drip": {"chunk": 16384, "delay_ms": 120}}' >"$server/quillon/download/$package.fault"
python3 tests/support/info_server.py --root "$server" --port 80 --pidfile "$server/.pid" \
  --ready-file "$server/.ready" </dev/null >"$out/server.log" 2>&1 &
for _ in $(seq 100); do [ -f "$server/.ready" ] && break; sleep 0.1; done
check "published $(cat "$server/quillon/info.txt" 2>/dev/null | head -c 60)... and $package; server up" \
  test "$published" = 1 -a -f "$server/.ready"

page="$(win_path "$repo/tools/demo/quillon.html")"
host_log="$out/page-host-1.log"
rm -f "$out"/page-host-*.log "$out"/*.png

# 3. The first opening: a first installation.
begin "the page host opens the page: a first installation"
"$loader" "$bin/OrvexPageHost.exe" --log "$(win_path "$host_log")" --close-after 3000 "$page" </dev/null \
  >/dev/null 2>&1 &
host_pid=$!
# The progress dialog, while the package drips in.
shot_taken=0
for _ in $(seq 300); do
  if grep -q "/quillon/download/" "$server/requests.log" 2>/dev/null; then
    sleep 1.5
    shot progress-dialog.png && shot_taken=1
    break
  fi
  sleep 0.1
done
# The end state: the installation done, the host restored.
for _ in $(seq 600); do grep -q "do-verb" "$host_log" 2>/dev/null && break; sleep 0.1; done
sleep 1
shot end-state.png || true
wait "$host_pid" && host_rc=0 || host_rc=$?
check "the page host read the page and activated the control (exit $host_rc)" test "$host_rc" = 0
sequence=$({ grep -E "window (minimised|disabled|enabled|restored)" "$host_log" 2>/dev/null || true; } |
  awk '{print $2}' | tr '\n' ' ')
check "host window minimised and disabled, then enabled and restored: $sequence" \
  test "$sequence" = "minimised disabled enabled restored "
check "the progress dialog was shown during the download (progress-dialog.png)" test "$shot_taken" = 1
downloads=$(grep -c "/quillon/download/" "$server/requests.log" 2>/dev/null || true)
check "the package was downloaded once ($downloads request)" test "$downloads" = 1
check "the sample setup installed the viewer under $viewer_clsid" \
  reg_has "HKCR\\CLSID\\$viewer_clsid\\InprocServer32"
check "the next check is recorded (NextUpdateTime)" \
  reg_has "HKLM\\SOFTWARE\\Brindlewood\\Downloads\\Quillon" NextUpdateTime

# 4. The second opening: installed, not due, nothing starts.
begin "the page is opened a second time"
requests_before=$(wc -l <"$server/requests.log" 2>/dev/null || echo 0)
host_log2="$out/page-host-2.log"
"$loader" "$bin/OrvexPageHost.exe" --log "$(win_path "$host_log2")" --close-after 3000 "$page" </dev/null \
  >/dev/null 2>&1 &
host_pid=$!
for _ in $(seq 300); do grep -q "do-verb" "$host_log2" 2>/dev/null && break; sleep 0.1; done
sleep 1
shot host.png || true
wait "$host_pid" && host_rc=0 || host_rc=$?
requests_after=$(wc -l <"$server/requests.log" 2>/dev/null || echo 0)
check "the page host loaded the control (exit $host_rc)" test "$host_rc" = 0
check "the control found the viewer installed and the check not due: nothing requested" \
  test "$requests_before" = "$requests_after"
check "the host window was left alone" bash -c "! grep -qE 'window (minimised|disabled)' '$host_log2'"

echo "-- screenshots and logs in $out"
ls "$out"/*.png 2>/dev/null | sed 's/^/   /'
if [ "$failures" = 0 ]; then
  echo "== every step did what it says =="
  exit 0
fi
echo "== $failures check(s) failed =="
exit 1
