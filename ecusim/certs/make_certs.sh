#!/usr/bin/env bash
# Makes the virtual ECU's certificates with the openssl command-line tool:
#   root_certificate.der     self-signed trust anchor (the host's "RootCertificate_tcert.der")
#   device_certificate.der   the ECU's own certificate, issued by the root; its serial number is
#                            the ECU serial (4 bytes) followed by 00000001
#   package_certificate.der  a package-signing certificate issued by the root
# All keys are RSA-1024, signatures sha256WithRSAEncryption, names PrintableString, X.509 v3.
# The private keys are thrown away: nothing in the test equipment signs afterwards.
# Usage: make_certs.sh [ECU_SERIAL_HEX8] [OUT_DIR]
set -euo pipefail

serial="${1:-1A2B3C4D}"
out="${2:-$(cd "$(dirname "$0")" && pwd)}"
[[ "$serial" =~ ^[0-9A-F]{8}$ ]] || { echo "serial must be 8 upper-case hex digits" >&2; exit 2; }

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

cat >"$work/openssl.cnf" <<CNF
[req]
distinguished_name = dn
string_mask = default
prompt = no
[dn]
[root_ext]
basicConstraints = critical, CA:TRUE
keyUsage = critical, keyCertSign, cRLSign
[leaf_ext]
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature, keyEncipherment
CNF

key() { openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:1024 -out "$1" 2>/dev/null; }

key "$work/root.key"
openssl req -new -x509 -config "$work/openssl.cnf" -key "$work/root.key" -sha256 -days 7300 \
  -subj "/C=DE/O=Velmar/CN=Velmar Flashdesk Root" -extensions root_ext -set_serial 1 \
  -outform DER -out "$out/root_certificate.der"
openssl x509 -inform DER -in "$out/root_certificate.der" -out "$work/root.pem"

issue() {  # issue NAME SUBJECT SERIAL
  key "$work/$1.key"
  openssl req -new -config "$work/openssl.cnf" -key "$work/$1.key" -subj "$2" -out "$work/$1.csr"
  openssl x509 -req -in "$work/$1.csr" -CA "$work/root.pem" -CAkey "$work/root.key" -sha256 \
    -days 7300 -set_serial "$3" -extfile "$work/openssl.cnf" -extensions leaf_ext \
    -outform DER -out "$out/$1_certificate.der" 2>/dev/null
}

issue device "/C=DE/O=Velmar/OU=ECU/CN=ECU $serial" "0x${serial}00000001"
issue package "/C=DE/O=Velmar/CN=Velmar Package Signing" 2

echo "certificates for ECU $serial written to $out"
