#!/usr/bin/env bash
# Checks a signed Windows package against the unsigned build it came from:
#
#   packaging/check_signed_package.sh ZIP CA_PEM UNSIGNED_FOLDER
#
# ZIP is the signed package (scripts/package.sh --sign-...), CA_PEM the root
# the signing certificate chains to, UNSIGNED_FOLDER the unsigned package
# folder of the same build. For CustomHooks.dll and kxhost.exe:
# - osslsigncode verifies the signature against CA_PEM, and finds no PE
#   checksum mismatch; the unsigned file does not verify;
# - the signed file's version resource (.rsrc) and export table are the
#   unsigned file's, and the DLL still exports exactly its three names;
# - one byte changed after signing, inside the version resource's strings or
#   inside the code, makes verification fail;
# - README.txt names the certificate that signed them: its SHA-1 and SHA-256
#   thumbprints, as read from the signature itself.
set -euo pipefail

if [ $# -ne 3 ]; then
  echo "usage: packaging/check_signed_package.sh ZIP CA_PEM UNSIGNED_FOLDER" >&2
  exit 2
fi
zip=$(realpath "$1")
ca=$(realpath "$2")
unsigned=$(realpath "$3")
source=$(cd "$(dirname "$0")/.." && pwd)
objdump=i686-w64-mingw32-objdump
objcopy=i686-w64-mingw32-objcopy
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
(cd "$work" && unzip -q "$zip")
top=$(find "$work" -mindepth 1 -maxdepth 1 -type d)

fail() {
  echo "signature check: $*" >&2
  exit 1
}

verify() { osslsigncode verify -CAfile "$ca" -in "$1" >"$work/verify.log" 2>&1; }

# exports FILE: the export directory and the names it lists, as objdump shows them.
exports() { "$objdump" -p "$1" | sed -n '/^The Export Tables/,/^$/p;/Ordinal\/Name Pointer/,/^$/p'; }

# section_range FILE SECTION: the section's file offset and size, in decimal.
section_range() {
  local off size
  # objdump -h: Idx Name Size VMA LMA File-off Align
  read -r off size < <("$objdump" -h "$1" | awk -v s="$2" '$2 == s { print $6, $3; exit }')
  [ -n "$off" ] || fail "$1 has no section $2"
  echo "$((16#$off)) $((16#$size))"
}

# flip_byte FILE OFFSET: adds one to the byte at OFFSET.
flip_byte() {
  local file=$1 offset=$2 byte
  byte=$(od -An -tu1 -j "$offset" -N1 "$file" | tr -d ' ')
  printf "$(printf '\\%03o' $(((byte + 1) % 256)))" |
    dd of="$file" bs=1 seek="$offset" conv=notrunc status=none
}

for name in CustomHooks.dll kxhost.exe; do
  signed="$top/$name"
  [ -f "$signed" ] || fail "$zip has no $name"
  verify "$signed" || { cat "$work/verify.log" >&2; fail "$name does not verify against $ca"; }
  if grep -qiE 'mismatch|invalid PE checksum' "$work/verify.log"; then
    cat "$work/verify.log" >&2
    fail "$name: osslsigncode reports a mismatch"
  fi
  checksum=$("$objdump" -p "$signed" | awk '$1 == "CheckSum" { print $2 }')
  [ -n "$checksum" ] && [ "$((16#$checksum))" -ne 0 ] || fail "$name has no PE checksum"
  if verify "$unsigned/$name"; then
    fail "the unsigned $name verifies: the check cannot tell signed from unsigned"
  fi

  "$objcopy" --dump-section .rsrc="$work/signed.rsrc" "$signed" "$work/scratch"
  "$objcopy" --dump-section .rsrc="$work/unsigned.rsrc" "$unsigned/$name" "$work/scratch"
  cmp -s "$work/signed.rsrc" "$work/unsigned.rsrc" || fail "$name: signing changed the version resource"
  [ "$(exports "$signed")" = "$(exports "$unsigned/$name")" ] || fail "$name: signing changed the export table"

  # A byte of the version resource's "FileVersion" string, then one of the code.
  read -r rsrc_off rsrc_size < <(section_range "$signed" .rsrc)
  [ -n "${rsrc_size:-}" ] || fail "$name has no .rsrc section"
  key=$(printf 'FileVersion' | iconv -f ASCII -t UTF-16LE | od -An -tx1 | tr -d ' \n')
  at=$(od -An -v -tx1 -j "$rsrc_off" -N "$rsrc_size" "$signed" | tr -d ' \n' | grep -bo "$key" | head -n 1 | cut -d: -f1)
  [ -n "$at" ] && [ $((at % 2)) -eq 0 ] || fail "$name: no FileVersion string in its version resource"
  read -r text_off _ < <(section_range "$signed" .text)
  [ -n "${text_off:-}" ] || fail "$name has no .text section"
  for offset in $((rsrc_off + at / 2)) $((text_off + 64)); do
    cp "$signed" "$work/tampered"
    flip_byte "$work/tampered" "$offset"
    cmp -s "$signed" "$work/tampered" && fail "$name: the byte at $offset was not changed"
    if verify "$work/tampered"; then
      fail "$name still verifies with the byte at $offset changed"
    fi
  done
  # The signer's certificate, from the signature.
  rm -f "$work/signature.pem"
  osslsigncode extract-signature -pem -in "$signed" -out "$work/signature.pem" >/dev/null 2>&1 ||
    fail "$name: its signature cannot be extracted"
  openssl pkcs7 -print_certs -in "$work/signature.pem" -out "$work/chain.pem"
  "$source/packaging/signer_certificate.sh" "$work/chain.pem" "$work/signer.pem" ||
    fail "$name: no signer's certificate in its signature"
  for digest in sha1 sha256; do
    thumbprint=$(openssl x509 -noout -fingerprint "-$digest" -in "$work/signer.pem" | cut -d= -f2 | tr -d :)
    grep -q "thumbprint.* $thumbprint" "$top/README.txt" ||
      fail "README.txt does not name the $digest thumbprint $thumbprint of the certificate that signed $name"
  done
  echo "$name: signature verified against the CA, covers the version resource and the code, named in README.txt"
done

cmake -DLIBRARY="$top/CustomHooks.dll" -DOBJDUMP="$objdump" -DKIND=pe \
  -P "$source/cmake/check_library_interface.cmake" >/dev/null ||
  fail "the signed DLL's exports or imports are wrong"
echo "signed package checks passed"
