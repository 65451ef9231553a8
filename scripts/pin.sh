#!/usr/bin/env bash
# Prints the updater's pin for a server: the SHA-256 of the DER-encoded
# SubjectPublicKeyInfo, as 64 lower-case hex digits.
# Usage: pin.sh CERT.pem | PUBLIC_KEY.pem
# For a chain file the first certificate is used: the server's own, which is
# the one the updater checks.
set -euo pipefail

fail() {
    echo "pin.sh: $*" >&2
    exit 1
}

[ $# -eq 1 ] || { echo "usage: pin.sh CERT.pem | PUBLIC_KEY.pem" >&2; exit 2; }
input=$1
if [ ! -f "$input" ] || [ ! -r "$input" ]; then
    fail "cannot read $input"
fi
command -v openssl >/dev/null || fail "openssl is not installed"

der=$(mktemp)
trap 'rm -f "$der"' EXIT

if grep -q -e '-----BEGIN CERTIFICATE-----' "$input"; then
    openssl x509 -in "$input" -noout -pubkey 2>/dev/null \
        | openssl pkey -pubin -outform DER -out "$der" 2>/dev/null \
        || fail "$input: not a readable PEM certificate"
elif grep -q -e '-----BEGIN PUBLIC KEY-----' "$input"; then
    openssl pkey -pubin -in "$input" -outform DER -out "$der" 2>/dev/null \
        || fail "$input: not a readable PEM public key"
elif grep -q -e '-----BEGIN .*PRIVATE KEY-----' "$input"; then
    fail "$input is a private key; give the certificate or the public key"
else
    fail "$input holds neither a PEM certificate nor a PEM public key"
fi

pin=$(openssl dgst -sha256 -r "$der" | cut -d' ' -f1)
[[ $pin =~ ^[0-9a-f]{64}$ ]] || fail "openssl gave no SHA-256 digest"
echo "$pin"
