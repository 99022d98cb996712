#!/usr/bin/env bash
# Finds the signer's certificate in a PEM chain: the first certificate that
# is not a CA's (basicConstraints CA:TRUE). scripts/package.sh names it in
# the package notes; packaging/check_signed_package.sh finds it in a
# signature and checks that the notes name it.
#
#   packaging/signer_certificate.sh CHAIN_PEM OUT_PEM
set -euo pipefail

if [ $# -ne 2 ]; then
  echo "usage: packaging/signer_certificate.sh CHAIN_PEM OUT_PEM" >&2
  exit 2
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
awk -v dir="$work" '/-----BEGIN CERTIFICATE-----/ { n++ } n { print > (dir "/" n ".pem") }' "$1"
for n in $(cd "$work" && ls | sort -n); do
  if ! openssl x509 -noout -ext basicConstraints -in "$work/$n" 2>/dev/null | grep -q 'CA:TRUE'; then
    cp "$work/$n" "$2"
    exit 0
  fi
done
echo "signer_certificate: no certificate that is not a CA's in $1" >&2
exit 1
