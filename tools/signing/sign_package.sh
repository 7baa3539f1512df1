#!/bin/sh
# Signs a setup package (Authenticode, SHA-256) in place with a certificate
# and its key. Patch the header bytes first: signing covers them.
#   sh tools/signing/sign_package.sh PACKAGE CERT.crt KEY.key [DESCRIPTION]
set -eu
package="$1"
cert="$2"
key="$3"
description="${4:-Setup}"
signed="$package.signing"
rm -f "$signed"
if ! osslsigncode sign -certs "$cert" -key "$key" -h sha256 -n "$description" -in "$package" -out "$signed" \
    >"$package.signing.log" 2>&1; then
  cat "$package.signing.log" >&2
  rm -f "$signed"
  exit 1
fi
rm -f "$package.signing.log"
mv -f "$signed" "$package"
