#!/bin/sh
# Makes the server certificates of the HTTPS tests, issued by the test root of
# make_test_certificates.sh (ROOTDIR/root.{crt,key}):
#   localhost   for the host name localhost: the one a trusted server shows
#   elsewhere   for another host name
#   expired     for localhost, valid only in the past
#   stranger    for localhost, issued by a root of its own that nobody trusts
# Test use only: the keys are written unprotected.
#   sh tools/signing/make_test_server_certificates.sh ROOTDIR OUTDIR
# Writes OUTDIR/{root,localhost,elsewhere,expired,stranger}.{crt,key} (root.crt a
# copy of the test root); does nothing when they exist for that root.
set -eu
rootdir="$1"
out="$2"
mkdir -p "$out"
exec 9>"$out/.lock"
flock 9
if [ -f "$out/done" ] && cmp -s "$rootdir/root.crt" "$out/root.crt"; then
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
CN = Orvex Unknown Test Root
[root]
basicConstraints = critical, CA:TRUE
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash
[ca]
default_ca = test_ca
[test_ca]
database = $ENV::CA_DIR/index.txt
new_certs_dir = $ENV::CA_DIR
serial = $ENV::CA_DIR/serial
default_md = sha256
policy = any
copy_extensions = none
unique_subject = no
[any]
commonName = supplied
[server]
basicConstraints = CA:FALSE
keyUsage = critical, digitalSignature, keyEncipherment
extendedKeyUsage = serverAuth
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
subjectAltName = DNS:$ENV::HOST_NAME
CONF
quiet() { "$@" >"$out/openssl.log" 2>&1 || { cat "$out/openssl.log" >&2; exit 1; }; }
export CA_DIR="$out/ca" HOST_NAME=localhost
mkdir -p "$CA_DIR"
quiet openssl req -x509 -newkey rsa:2048 -nodes -keyout "$out/stranger-root.key" -out "$out/stranger-root.crt" \
  -days 3650 -config "$config" -extensions root
# issue NAME HOST ROOT START END
issue() {
  : >"$CA_DIR/index.txt"
  printf '01\n' >"$CA_DIR/serial"
  export HOST_NAME="$2"
  quiet openssl req -newkey rsa:2048 -nodes -keyout "$out/$1.key" -out "$out/$1.csr" -subj "/CN=$2" -config "$config"
  quiet openssl ca -batch -config "$config" -extensions server -in "$out/$1.csr" -out "$out/$1.crt" -notext \
    -cert "$3.crt" -keyfile "$3.key" -startdate "$4" -enddate "$5"
  rm -f "$out/$1.csr"
}
issue localhost localhost "$rootdir/root" 20200101000000Z 20450101000000Z
issue elsewhere elsewhere.invalid "$rootdir/root" 20200101000000Z 20450101000000Z
issue expired localhost "$rootdir/root" 20200101000000Z 20210101000000Z
issue stranger localhost "$out/stranger-root" 20200101000000Z 20450101000000Z
cp "$rootdir/root.crt" "$out/root.crt"
for name in root localhost elsewhere expired stranger; do
  for kind in crt key; do
    [ -f "$out/$name.$kind" ] && mv -f "$out/$name.$kind" "$final/$name.$kind"
  done
done
touch "$final/done"
