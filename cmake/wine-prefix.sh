#!/bin/sh
# Makes, starts and stops a Wine prefix of a build tree.
#   wine-prefix.sh start PREFIX INSTALLER_EXE [SERVER_ROOT [TLS_DIR]]
#     creates the prefix once (64-bit with 32-bit support, null graphics driver,
#     no crash dialogs), starts its server for the run and places INSTALLER_EXE
#     in its Windows directory as OrvexInstaller.exe. With SERVER_ROOT, the
#     prefix's server runs in a private network namespace together with the
#     information server on 127.0.0.1 port 80, serving SERVER_ROOT: programs of
#     the prefix reach it there, and nothing leaves the machine.
#     With TLS_DIR (made by tools/signing/make_test_server_certificates.sh),
#     the namespace is also a mount namespace of its own, in which the
#     system's CA bundle is a copy with the test root TLS_DIR/root.crt added:
#     the information server speaks HTTPS on port 443 with the certificate for
#     localhost, and plain HTTP on port 80, serving the same folder. Programs
#     that must trust the test root run inside it (wine-run.sh --enter).
#   wine-prefix.sh stop PREFIX [SERVER_ROOT [TLS_DIR]]
#     ends the prefix's server, every program still running in it, and the
#     information server.
set -eu
command=$1
prefix=$2
export WINEPREFIX="$prefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
wine64=/usr/lib/wine/wine64
here=$(cd "$(dirname "$0")" && pwd)
info_server="$here/../tests/support/info_server.py"

quiet() { "$@" </dev/null >/dev/null 2>&1; }

# A new prefix: 64-bit with 32-bit support, null graphics driver, no crash
# dialogs. Wine's output goes to $log.
log="${prefix%/}.log"
make_prefix() {
  rm -rf "$prefix" && mkdir -p "$prefix" && : >"$log" &&
    "$wine64" wineboot -i </dev/null >>"$log" 2>&1 &&
    "$wine64" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f </dev/null >>"$log" 2>&1 &&
    "$wine64" reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f </dev/null >>"$log" 2>&1 &&
    wineserver -w </dev/null >>"$log" 2>&1
}

stop_info_server() {
  root=$1
  for pidfile in "$root/.server.pid" "$root/.server-http.pid"; do
    if [ -f "$pidfile" ]; then
      kill "$(cat "$pidfile")" 2>/dev/null || true
      rm -f "$pidfile"
    fi
  done
}

wait_for_ready() {
  tries=0
  until [ -f "$1" ]; do
    tries=$((tries + 1))
    if [ "$tries" -gt 100 ]; then
      echo "the information server did not start:" >&2
      cat "$2" >&2 || true
      exit 1
    fi
    sleep 0.1
  done
}

case "$command" in
  start)
    installer=$3
    root=${4:-}
    tls=${5:-}
    quiet wineserver -k || true
    if [ ! -f "$prefix/.orvex-ready" ]; then
      # Making a prefix now and then fails for reasons of Wine's own: once
      # more from scratch, and Wine's output is kept beside the prefix.
      if ! make_prefix; then
        echo "making $prefix failed; once more (Wine's output: $log)" >&2
        quiet wineserver -k || true
        if ! make_prefix; then
          echo "$prefix could not be made; the end of Wine's output:" >&2
          tail -n 20 "$log" >&2 || true
          exit 1
        fi
      fi
      touch "$prefix/.orvex-ready"
    fi
    cp "$installer" "$prefix/drive_c/windows/OrvexInstaller.exe"
    # The server and Wine's own background processes outlive this script:
    # none of them may hold the caller's output open.
    if [ -n "$root" ]; then
      stop_info_server "$root"
      mkdir -p "$root"
      rm -f "$root/.server.ready" "$root/.server-http.ready"
      if [ -n "$tls" ]; then
        cat /etc/ssl/certs/ca-certificates.crt "$tls/root.crt" >"$tls/trusted-roots.crt"
        unshare -n -m sh -c '
          set -e
          ip link set lo up
          mount --bind "$3/trusted-roots.crt" /etc/ssl/certs/ca-certificates.crt
          python3 "$1" --root "$2" --port 443 --tls "$3/localhost.crt" "$3/localhost.key" \
            --pidfile "$2/.server.pid" --ready-file "$2/.server.ready" </dev/null >"$2/.server.log" 2>&1 &
          python3 "$1" --root "$2" --port 80 --pidfile "$2/.server-http.pid" --ready-file "$2/.server-http.ready" \
            </dev/null >"$2/.server-http.log" 2>&1 &
          wineserver -p </dev/null >/dev/null 2>&1
        ' sh "$info_server" "$root" "$tls"
        wait_for_ready "$root/.server-http.ready" "$root/.server-http.log"
      else
        unshare -n sh -c '
          ip link set lo up
          python3 "$1" --root "$2" --port 80 --pidfile "$2/.server.pid" --ready-file "$2/.server.ready" \
            </dev/null >"$2/.server.log" 2>&1 &
          wineserver -p </dev/null >/dev/null 2>&1
        ' sh "$info_server" "$root"
      fi
      wait_for_ready "$root/.server.ready" "$root/.server.log"
    else
      quiet wineserver -p
    fi
    quiet "$wine64" cmd /c exit
    echo "prefix $prefix ready${root:+, information server on 127.0.0.1 serving $root}${tls:+ over https and http}"
    ;;
  stop)
    root=${3:-}
    quiet wineserver -k || true
    [ -n "$root" ] && stop_info_server "$root"
    echo "prefix $prefix stopped"
    ;;
  *)
    echo "usage: $0 start PREFIX INSTALLER_EXE [SERVER_ROOT [TLS_DIR]] | stop PREFIX [SERVER_ROOT [TLS_DIR]]" >&2
    exit 2
    ;;
esac
