#!/usr/bin/env bash
# The command-line tool end to end: pipelines, exit codes, messages, and openssl as a peer.
#   tool_test.sh [EMULATOR ARGS...] TOOL
set -u
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
tool="$work/cryptutil"  # the tool, behind its emulator when there is one
printf '#!/bin/sh\nexec %s "$@"\n' "$*" >"$tool" && chmod +x "$tool"
cd "$work" || exit 1
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# expect CODE PATTERN COMMAND...: exit code and a line of stderr matching PATTERN.
expect() {
  local code=$1 pattern=$2; shift 2
  "$@" >out 2>err </dev/null
  local got=$?
  [ "$got" -eq "$code" ] || fail "$* exited $got, expected $code"
  grep -q -- "$pattern" err || fail "$*: stderr '$(cat err)' lacks '$pattern'"
}

openssl genrsa -out key.pem 2048 2>/dev/null && openssl pkey -in key.pem -pubout -out pub.pem || exit 1
K=$("$tool" keygen)
[ ${#K} -eq 64 ] || fail "keygen gave '$K'"
[ "$("$tool" keygen --size 16 | tr -d '\n' | wc -c)" -eq 32 ] || fail "keygen --size 16"

# Pipelines round-trip.
[ "$(echo hi | "$tool" encrypt --key "$K" | "$tool" decrypt --key "$K")" = hi ] || fail "encrypt | decrypt"
echo "$K" >aes.hex
[ "$(printf 'x\0y' | "$tool" encrypt --key-file aes.hex | "$tool" decrypt --key-file aes.hex | od -An -c | tr -d ' ')" = 'x\0y' ] ||
  fail "NUL bytes through encrypt | decrypt"
[ "$(echo "$K" | "$tool" wrap --public pub.pem --key-file - | "$tool" unwrap --private key.pem)" = "$K" ] ||
  fail "wrap with the key on standard input"
[ "$("$tool" wrap --public pub.pem --key "$K" | "$tool" unwrap --private key.pem)" = "$K" ] || fail "wrap | unwrap"
[ "$(printf hi | "$tool" hex encode | "$tool" hex decode)" = hi ] || fail "hex round trip"
[ "$(printf abc | "$tool" hash)" = ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad ] || fail "hash"
[ "$("$tool" error E1 hello)" = '{"msg":{"body":"hello","code":"E1"},"status_code":"ng"}' ] || fail "error"
"$tool" now | grep -Eq '^[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}\+08:00$' || fail "now"

# Text saved with CRLF line ends, as Windows peers write it, reads the same.
[ "$(echo hi | "$tool" encrypt --key "$K" | sed 's/$/\r/' | "$tool" decrypt --key "$K")" = hi ] || fail "decrypt of CRLF text"
[ "$("$tool" wrap --public pub.pem --key "$K" | sed 's/$/\r/' | "$tool" unwrap --private key.pem)" = "$K" ] ||
  fail "unwrap of CRLF text"
printf '%s\r\n' "$K" >aes-crlf.hex
[ "$(echo hi | "$tool" encrypt --key-file aes-crlf.hex | "$tool" decrypt --key "$K")" = hi ] || fail "a CRLF key file"

# verify: 0 for valid, 1 for invalid.
printf 'data' >data
sig=$("$tool" sign --private key.pem <data)
"$tool" verify --public pub.pem --signature "$sig" <data >/dev/null || fail "verify of a good signature"
printf '%s\r\n' "$sig" >sig-crlf.txt
"$tool" verify --public pub.pem --signature-file sig-crlf.txt <data >/dev/null || fail "a CRLF signature file"
printf 'date' | "$tool" verify --public pub.pem --signature "$sig" >out
[ $? -eq 1 ] && grep -qx invalid out || fail "verify of altered data"

# Bad input: one clear line, exit 2 for usage, 1 for a failed operation.
expect 2 "not hex" "$tool" encrypt --key zz
expect 2 "16, 24 or 32 bytes" "$tool" encrypt --key 0011
expect 2 "exactly one of --key and --key-file" "$tool" encrypt
expect 2 "see --help" "$tool" frobnicate
expect 2 "only one option can read standard input" "$tool" wrap --public - --key-file -
expect 2 "give the signature" "$tool" verify --public pub.pem
echo zz | "$tool" hex decode 2>err; [ $? -eq 1 ] && grep -q "standard input is not hex" err || fail "bad hex on standard input"
echo zz | "$tool" encrypt --key-file - 2>err; [ $? -eq 1 ] && grep -q "key on standard input is not hex" err ||
  fail "a bad key on standard input is bad data"
expect 1 "is over 1048576 bytes" "$tool" encrypt --key-file /dev/zero
expect 1 "is over 1048576 bytes" "$tool" verify --public pub.pem --signature-file /dev/zero
mkdir adir
expect 1 "cannot read adir: it is a directory" "$tool" sign --private adir
[ "$("$tool" hash <adir 2>&1)" = "cryptutil: cannot read standard input: Is a directory" ] || fail "a directory on standard input"
expect 1 "cannot read missing.pem" "$tool" wrap --public missing.pem --key "$K"
expect 1 "not a PEM RSA public key" "$tool" wrap --public key.pem --key "$K"
expect 1 "not an unencrypted PEM RSA private key" "$tool" sign --private pub.pem
expect 1 "decryption failed" "$tool" decrypt --key "$K"
expect 1 "unwrapping failed" "$tool" unwrap --private key.pem
expect 2 "UTF-8" "$tool" error E1 $'\xff'

# Output that cannot be written fails the command.
for redirect in '>/dev/full' '>&-'; do
  eval "\"\$tool\" keygen $redirect 2>err"
  [ $? -eq 1 ] && grep -q "cannot write the output" err || fail "keygen $redirect"
done
head -c 200000 /dev/urandom >big
# Streamed in several reads: the same bytes as openssl's, both ways.
"$tool" encrypt --key "$K" <big | sed 's/%2B/+/g' | openssl base64 -d -A | openssl enc -d -aes-256-ecb -K "$K" -nopad |
  head -c 200000 | cmp -s - big || fail "openssl decrypts a streamed encryption"
openssl enc -aes-256-ecb -K "$K" <big | openssl base64 -A | "$tool" decrypt --key "$K" | cmp -s - big ||
  fail "a streamed decryption of openssl's"
"$tool" encrypt --key "$K" <big | "$tool" decrypt --key "$K" >/dev/full 2>err
[ $? -eq 1 ] && grep -q "cannot write the output: No space left on device" err || fail "decrypt >/dev/full: $(cat err)"
"$tool" --version | grep -Eq '^cryptutil [0-9]+\.[0-9]+\.[0-9]+$' || fail "--version"
for usage in "" help; do
  "$tool" $usage | grep -q "^Usage: cryptutil" || fail "usage for '$usage'"
done

# A key or signature given as '-' comes first on standard input, the data after it.
[ "$({ echo "$K"; echo hi; } | "$tool" encrypt --key-file - | { echo "$K"; cat; } | "$tool" decrypt --key-file -)" = hi ] ||
  fail "--key-file - for encrypt and decrypt"
{ cat key.pem; cat data; } | "$tool" sign --private - >sig.txt && "$tool" verify --public pub.pem --signature-file sig.txt <data >/dev/null ||
  fail "sign --private -, verify --signature-file"
{ cat sig.txt; cat data; } | "$tool" verify --public pub.pem --signature-file - >/dev/null || fail "--signature-file -"
[ "$("$tool" wrap --public pub.pem --key "$K" | { cat key.pem; cat; } | "$tool" unwrap --private -)" = "$K" ] || fail "unwrap --private -"

# The demo ends with its verdict.
"$tool" demo | tail -n 1 | grep -q "^demo: OK" || fail "demo"

# openssl as a peer: one encryption each way and one signature.
echo interop | "$tool" encrypt --key "$K" | sed 's/%2B/+/g' | openssl base64 -d -A |
  openssl enc -d -aes-256-ecb -K "$K" -nopad >padded
pad=$(tail -c 1 padded | od -An -tu1 | tr -d ' ')
[ "$(head -c -"$pad" padded)" = interop ] || fail "openssl decrypts ours"
[ "$(printf 'from openssl' | openssl enc -aes-256-ecb -K "$K" | openssl base64 -A | "$tool" decrypt --key "$K")" = \
  "from openssl" ] || fail "we decrypt openssl's"
"$tool" sign --private key.pem <data | sed 's/%2B/+/g' | openssl base64 -d -A >sig.bin
openssl dgst -sha256 -verify pub.pem -signature sig.bin data >/dev/null || fail "openssl verifies our signature"
openssl dgst -sha256 -sign key.pem -out theirs.bin data
"$tool" verify --public pub.pem --signature "$(openssl base64 -A -in theirs.bin)" <data >/dev/null ||
  fail "we verify openssl's signature"
"$tool" wrap --public pub.pem --key "$K" | sed 's/%2B/+/g' | openssl base64 -d -A >wrapped.bin
[ "$(openssl pkeyutl -decrypt -inkey key.pem -pkeyopt rsa_padding_mode:oaep -in wrapped.bin | od -An -tx1 | tr -d ' \n')" = "$K" ] ||
  fail "openssl unwraps our wrapped key"
printf "%s" "$K" | "$tool" hex decode >aes.bin
[ "$(openssl pkeyutl -encrypt -pubin -inkey pub.pem -pkeyopt rsa_padding_mode:oaep -in aes.bin | openssl base64 -A |
  "$tool" unwrap --private key.pem)" = "$K" ] || fail "we unwrap openssl's wrapped key"

[ "$failures" -eq 0 ] && echo "tool tests passed" || echo "$failures tool tests failed"
exit $((failures > 0))
