#!/usr/bin/env bash
# zvscan --signatures on the golden prefix (ZV_WINEPREFIX): PE files signed here with osslsigncode
# under certificate authorities made here with openssl, named by Run values of the test's own. The
# test root is trusted in the prefix for the test's time only; every value, file and certificate it
# adds goes when it ends.
#   signatures.sh BUILD_DIR
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
root="$(cd "$here/../../.." && pwd)"
build="$1"
name=signatures
: "${ZV_WINEPREFIX:?set ZV_WINEPREFIX to the golden prefix}"
work="$(mktemp -d)"
source "$here/prefix.sh"

run_key='HKCU\Software\Microsoft\Windows\CurrentVersion\Run'
store='HKLM\Software\Microsoft\SystemCertificates\Root\Certificates'
folder="$ZV_WINEPREFIX/drive_c/zvsig"
thumbprint=""
cleanup() {
  for value in Trusted256 Trusted1 Untrusted Partial Changed Damaged Unsigned Again Missing; do
    wine_run reg delete "$run_key" /v "ZvSig$value" /f >/dev/null 2>&1 || true
  done
  [ -z "$thumbprint" ] || wine_run reg delete "$store\\$thumbprint" /f >/dev/null 2>&1 || true
  rm -rf "$folder" "$work"
}
trap cleanup EXIT

# Certificate authorities: a root the prefix trusts, one it does not, and an intermediate under the
# trusted root that no signature carries.
ca() { # NAME SUBJECT [ISSUER]
  openssl req -new -newkey rsa:2048 -nodes -keyout "$work/$1.key" -subj "/CN=$2" -out "$work/$1.csr" 2>/dev/null
  if [ -z "${3:-}" ]; then
    openssl x509 -req -in "$work/$1.csr" -signkey "$work/$1.key" -days 30 -sha256 -out "$work/$1.pem" \
      -extfile <(printf 'basicConstraints=critical,CA:true\nkeyUsage=critical,keyCertSign,cRLSign\n') 2>/dev/null
  else
    openssl x509 -req -in "$work/$1.csr" -CA "$work/$3.pem" -CAkey "$work/$3.key" -CAcreateserial -days 30 -sha256 \
      -out "$work/$1.pem" -extfile <(printf 'basicConstraints=critical,CA:true\nkeyUsage=critical,keyCertSign\n') 2>/dev/null
  fi
}
leaf() { # NAME SUBJECT ISSUER DIGEST
  openssl req -new -newkey rsa:2048 -nodes -keyout "$work/$1.key" -subj "/CN=$2" -out "$work/$1.csr" 2>/dev/null
  openssl x509 -req -in "$work/$1.csr" -CA "$work/$3.pem" -CAkey "$work/$3.key" -CAcreateserial -days 30 "-$4" \
    -out "$work/$1.pem" -extfile <(printf 'keyUsage=critical,digitalSignature\nextendedKeyUsage=codeSigning\n') 2>/dev/null
}
ca root "Zv Test Root"
ca stranger "Zv Stranger Root"
ca middle "Zv Test Intermediate" root
leaf signer256 "Zv Signer SHA256" root sha256
leaf signer1 "Zv Signer SHA1" root sha1
leaf outsider "Zv Outsider" stranger sha256
leaf orphan "Zv Orphan" middle sha256

# The signed files: copies of a small PE of the build.
mkdir -p "$folder"
pe="$build/bin/zvseed.exe"
sign() { # OUT CERTS KEY
  osslsigncode sign -certs "$2" -key "$3" -h sha256 -in "$pe" -out "$folder/$1" >/dev/null
}
cat "$work/outsider.pem" "$work/stranger.pem" >"$work/outsider-chain.pem"
sign trusted256.exe "$work/signer256.pem" "$work/signer256.key"
sign trusted1.exe "$work/signer1.pem" "$work/signer1.key"
sign untrusted.exe "$work/outsider-chain.pem" "$work/outsider.key"
sign partial.exe "$work/orphan.pem" "$work/orphan.key"
sign changed.exe "$work/signer256.pem" "$work/signer256.key"
sign damaged.exe "$work/signer256.pem" "$work/signer256.key"
cp "$pe" "$folder/unsigned.exe"
# A byte of the code after signing; a byte of the signer's signature value, the last bytes of the
# signature before its padding.
printf '\x90' | dd of="$folder/changed.exe" bs=1 seek=1100 conv=notrunc 2>/dev/null
size=$(stat -c %s "$folder/damaged.exe")
offset=$((size - 40))
byte=$(od -An -t u1 -j "$offset" -N 1 "$folder/damaged.exe" | tr -d ' ')
printf "\\x$(printf %02x $(((byte + 1) % 256)))" | dd of="$folder/damaged.exe" bs=1 seek="$offset" conv=notrunc 2>/dev/null

# The test root in the prefix's trusted roots: a blob of DWORDs 32 (the certificate property), 1,
# the DER's length, then the DER.
openssl x509 -in "$work/root.pem" -outform DER -out "$work/root.der"
thumbprint=$(openssl x509 -in "$work/root.pem" -noout -fingerprint -sha1 | sed 's/.*=//; s/://g' | tr a-f A-F)
le32() { printf '%08x' "$1" | sed 's/\(..\)\(..\)\(..\)\(..\)/\4\3\2\1/'; }
blob="$(le32 32)$(le32 1)$(le32 "$(stat -c %s "$work/root.der")")$(od -An -v -t x1 "$work/root.der" | tr -d ' \n')"
wine_run reg add "$store\\$thumbprint" /v Blob /t REG_BINARY /d "$blob" /f >/dev/null

for entry in Trusted256:trusted256 Trusted1:trusted1 Untrusted:untrusted Partial:partial Changed:changed \
  Damaged:damaged Unsigned:unsigned Again:TRUSTED256 Missing:missing; do
  wine_run reg add "$run_key" /v "ZvSig${entry%%:*}" /d "C:\\zvsig\\${entry#*:}.exe" /f >/dev/null
done

zvscan --signatures --format json --category registry >"$work/scan.jsonl"
zvscan --signatures --format csv --category registry >"$work/scan.csv"
zvscan --signatures --category registry >"$work/scan.txt"
zvscan --unsigned --format json --category registry >"$work/unsigned.jsonl"
# A file that is not there is listed only when candidates are not probed.
zvscan --signatures --skip-probe --format json --category registry >"$work/unprobed.jsonl"

# The status (and signer) JSON gives the file of one Run value.
line_of() { grep -F "[ZvSig$1]" "$work/$2" | head -n 1; }
expect() { # VALUE STATUS SIGNER [SCAN]
  local line
  line="$(line_of "$1" "${4:-scan.jsonl}")"
  [ -n "$line" ] || fail "ZvSig$1 was not listed"
  grep -qF "\"status\":\"$2\"" <<<"$line" || fail "ZvSig$1: expected $2 in $line"
  if [ -n "${3:-}" ]; then
    grep -qF "\"signer\":\"$3\"" <<<"$line" || fail "ZvSig$1: expected signer $3 in $line"
  fi
}
expect Trusted256 signed "Zv Signer SHA256"
grep -qF '"issuer":"Zv Test Root"' <<<"$(line_of Trusted256 scan.jsonl)" || fail "no issuer for Trusted256"
expect Trusted1 signed "Zv Signer SHA1"
expect Untrusted untrusted "Zv Outsider"
expect Partial untrusted "Zv Orphan"
expect Changed invalid
expect Damaged invalid
expect Unsigned unsigned
expect Again signed "Zv Signer SHA256"
expect Missing "not found" "" unprobed.jsonl

# Every form: CSV columns, the table's mark, and --unsigned keeping what is not validly signed.
head -n 1 "$work/scan.csv" | grep -q ',file_signature,file_signer,file_issuer,file_signature_reason' ||
  fail "CSV has no signature columns"
grep -F '[ZvSig' "$work/scan.csv" | grep -F 'ZvSigUntrusted' | grep -qF ',untrusted,Zv Outsider,Zv Stranger Root,' ||
  fail "CSV: $(grep -F ZvSigUntrusted "$work/scan.csv")"
grep -qF '[signed by Zv Signer SHA256]' "$work/scan.txt" || fail "the table has no signer mark"
grep -qF '[invalid: the file changed after it was signed' "$work/scan.txt" || fail "the table has no invalid mark"
kept="$(grep -oF '[ZvSig' "$work/unsigned.jsonl" | wc -l)"
for value in Untrusted Partial Changed Damaged Unsigned; do
  [ -n "$(line_of "$value" unsigned.jsonl)" ] || fail "--unsigned left out ZvSig$value"
done
[ "$kept" -eq 5 ] || fail "--unsigned kept $kept ZvSig entries, not the 5 files that are not validly signed"

# A signed file swapped for an unsigned one: a diff against the saved scan, which has signatures,
# checks them again and reports the change.
cp "$folder/unsigned.exe" "$folder/trusted256.exe"
status=0
zvscan diff "$(wine_path "$work/scan.jsonl")" --format json >"$work/diff.jsonl" || status=$?
[ "$status" -eq 3 ] || fail "the swapped file gave diff exit $status, not 3"
for value in Trusted256 Again; do
  grep -F "[ZvSig$value]" "$work/diff.jsonl" | grep -qF '"signatures"' || fail "diff: no signature change of ZvSig$value"
done
# The saved scan holds the registry category alone: a fresh scan's other items come as added.
[ "$(grep -c '"category_name":"registry"' "$work/diff.jsonl")" -eq 2 ] ||
  fail "diff: other registry changes than the two: $(grep '"category_name":"registry"' "$work/diff.jsonl")"
echo "$name: passed"
