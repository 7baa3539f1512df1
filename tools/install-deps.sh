#!/usr/bin/env bash
# Installs what building and testing needs on a Debian 12 machine (run as root).
set -euo pipefail
export DEBIAN_FRONTEND=noninteractive
pkgs=(cmake ninja-build make python3 googletest iproute2 util-linux
      g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix mingw-w64-tools binutils-mingw-w64
      wine wine64 wine32:i386 xvfb xauth
      clang-14 libclang-rt-14-dev llvm-14 libwine-dev osslsigncode openssl ca-certificates)
missing=0
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || { missing=1; break; }
done
if [ "$missing" = 0 ]; then
  echo "install-deps: every package is present"
  exit 0
fi
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
fi
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${pkgs[@]}" >/dev/null
echo "install-deps: installed"
