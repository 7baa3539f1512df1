#!/bin/sh
# Makes, starts and stops the Wine prefix of one build tree.
#   wine-prefix.sh start PREFIX INSTALLER_EXE
#     creates the prefix once (64-bit with 32-bit support, null graphics driver,
#     no crash dialogs), starts its server for the run and places INSTALLER_EXE
#     in its Windows directory as OrvexInstaller.exe.
#   wine-prefix.sh stop PREFIX
#     ends the prefix's server and every program still running in it.
set -eu
command=$1
prefix=$2
export WINEPREFIX="$prefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
wine64=/usr/lib/wine/wine64

case "$command" in
  start)
    installer=$3
    if [ ! -f "$prefix/.orvex-ready" ]; then
      wineserver -k >/dev/null 2>&1 || true
      rm -rf "$prefix"
      mkdir -p "$prefix"
      "$wine64" wineboot -i </dev/null >/dev/null 2>&1
      "$wine64" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f </dev/null >/dev/null 2>&1
      "$wine64" reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f </dev/null >/dev/null 2>&1
      wineserver -w </dev/null >/dev/null 2>&1
      touch "$prefix/.orvex-ready"
    fi
    # The server and Wine's own background processes outlive this script:
    # none of them may hold the caller's output open.
    wineserver -p </dev/null >/dev/null 2>&1
    "$wine64" cmd /c exit </dev/null >/dev/null 2>&1
    cp "$installer" "$prefix/drive_c/windows/OrvexInstaller.exe"
    echo "prefix $prefix ready"
    ;;
  stop)
    wineserver -k >/dev/null 2>&1 || true
    echo "prefix $prefix stopped"
    ;;
  *)
    echo "usage: $0 start PREFIX INSTALLER_EXE | stop PREFIX" >&2
    exit 2
    ;;
esac
