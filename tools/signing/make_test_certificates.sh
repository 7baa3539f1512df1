#!/bin/sh
# Makes the certificates the tests and the demo sign packages with: a test root,
# a code-signing certificate for the publisher the build pins, and one for
# another publisher, which a pinned installer must refuse. Test use only: the
# keys are written unprotected.
#   sh tools/signing/make_test_certificates.sh OUTDIR PUBLISHER
# Writes OUTDIR/{root,publisher,other}.{crt,key}; does nothing when they exist
# for the same publisher.
set -eu
out="$1"
publisher="${2:-Orvex Test Publisher}"
[ -n "$publisher" ] || publisher="Orvex Test Publisher"
mkdir -p "$out"
# Builds of several targets may ask at once: one makes them, the others wait.
exec 9>"$out/.lock"
flock 9
if [ -f "$out/publisher.crt" ] && [ "$(cat "$out/publisher.name" 2>/dev/null)" = "$publisher" ]; then
  exit 0
fi
final="$out"
out=$(mktemp -d "$final/.making.XXXXXX")
trap 'rm -rf "$out"' EXIT
config="$out/openssl.cnf"
cat >"$config" <<'CONF'
[req]
distinguished_name = dn
prompt = no
[dn]
CN = Orvex Test Root
[root]
basicConstraints = critical, CA:TRUE
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash
[signing]
basicConstraints = CA:FALSE
keyUsage = critical, digitalSignature
extendedKeyUsage = codeSigning
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
CONF
quiet() { "$@" >"$out/openssl.log" 2>&1 || { cat "$out/openssl.log" >&2; exit 1; }; }
quiet openssl req -x509 -newkey rsa:2048 -nodes -keyout "$out/root.key" -out "$out/root.crt" -days 3650 \
  -config "$config" -extensions root
# Subjects: the publisher as common name and organisation, as a maker's
# certificate would carry it.
for who in publisher other; do
  if [ "$who" = publisher ]; then name="$publisher"; else name="Someone Else Entirely"; fi
  quiet openssl req -newkey rsa:2048 -nodes -keyout "$out/$who.key" -out "$out/$who.csr" \
    -subj "/CN=$name/O=$name" -config "$config"
  quiet openssl x509 -req -in "$out/$who.csr" -CA "$out/root.crt" -CAkey "$out/root.key" -CAcreateserial \
    -out "$out/$who.crt" -days 3650 -extfile "$config" -extensions signing
  rm -f "$out/$who.csr"
done
printf '%s' "$publisher" >"$out/publisher.name"
# Into place, the name last: it says the set is complete.
for file in root.crt root.key root.srl publisher.crt publisher.key other.crt other.key openssl.cnf; do
  [ -f "$out/$file" ] && mv -f "$out/$file" "$final/$file"
done
mv -f "$out/publisher.name" "$final/publisher.name"
