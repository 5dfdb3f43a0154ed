#!/usr/bin/env bash
# The command-line tool end to end: pipelines, exit codes, what a failure leaves, and openssl as a peer.
#   tool_test.sh [EMULATOR ARGS...] TOOL
set -u
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
tool="$work/cryptutil"  # the tool, behind its emulator when there is one
printf '#!/bin/sh\nexec %s "$@"\n' "$*" >"$tool" && chmod +x "$tool"
cd "$work" || exit 1
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# expect CODE PATTERN COMMAND...: exit code, nothing on standard output, one line of stderr matching PATTERN.
expect() {
  local code=$1 pattern=$2; shift 2
  "$@" >out 2>err </dev/null
  local got=$?
  [ "$got" -eq "$code" ] || fail "$* exited $got, expected $code"
  [ ! -s out ] || fail "$*: wrote to standard output on failure"
  [ "$(wc -l <err)" -eq 1 ] && grep -q -- "$pattern" err || fail "$*: stderr '$(cat err)' is not one line with '$pattern'"
}

openssl genrsa -out key.pem 2048 2>/dev/null && openssl pkey -in key.pem -pubout -out pub.pem || exit 1
K=$("$tool" keygen)
[ ${#K} -eq 64 ] && [ "$("$tool" keygen --size 16 | tr -d '\n' | wc -c)" -eq 32 ] || fail "keygen gave '$K'"

# Round trips, from standard input and from files, to standard output and to -o.
[ "$(echo hi | "$tool" encrypt --key "$K" | "$tool" decrypt --key "$K")" = hi ] || fail "encrypt | decrypt"
echo "$K" >aes.hex
printf 'x\0y' >nul.bin
"$tool" encrypt --key-file aes.hex nul.bin -o nul.txt && "$tool" decrypt --key-file aes.hex nul.txt -o back.bin &&
  cmp -s nul.bin back.bin || fail "NUL bytes through files and -o"
echo "$K" | "$tool" wrap --public pub.pem --key-file - | (umask 0; "$tool" unwrap --private key.pem -o unwrapped.hex) &&
  [ "$(cat unwrapped.hex)" = "$K" ] && [ "$(stat -c %a unwrapped.hex)" = 600 ] || fail "wrap | unwrap -o, made 0600"
[ "$(printf hi | "$tool" hex encode | "$tool" hex decode)" = hi ] || fail "hex round trip"
[ "$(printf abc | "$tool" hash)" = ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad ] || fail "hash"
[ "$("$tool" error E1 hello)" = '{"msg":{"body":"hello","code":"E1"},"status_code":"ng"}' ] || fail "error"
"$tool" now | grep -Eq '^[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}\+08:00$' || fail "now"
[ "$(echo hi | "$tool" encrypt --key "$K" | sed 's/$/\r/' | "$tool" decrypt --key "$K")" = hi ] || fail "CRLF text"
{ echo "$K"; echo hi; } | "$tool" encrypt --key-file - | { echo "$K"; cat; } | "$tool" decrypt --key-file - | grep -qx hi ||
  fail "--key-file - for encrypt and decrypt"

# Key sources: process substitution, /dev/stdin, a FIFO whose writer comes later; at most 1 MiB,
# counted as read (a /proc file's size says 0).
echo hi >hi.txt
"$tool" encrypt --key-file <(cat aes.hex) hi.txt -o hi.enc && "$tool" decrypt --key-file /dev/stdin hi.enc <aes.hex | grep -qx hi ||
  fail "--key-file <(...) and /dev/stdin"
mkfifo fifo
(sleep 0.3; cat aes.hex >fifo) &
"$tool" decrypt --key-file fifo hi.enc | grep -qx hi || fail "--key-file on a FIFO whose writer comes later"
expect 2 "over 1 MiB" "$tool" encrypt --key-file <(head -c 1048577 /dev/zero | tr '\0' 0) hi.txt
expect 2 "over 1 MiB" "$tool" encrypt --key-file /proc/self/pagemap hi.txt

# verify: 0 valid, 1 invalid, 2 for a key file missing or broken.
printf 'data' >data
"$tool" sign --private key.pem data -o data.sig || fail "sign"
"$tool" verify --public pub.pem --signature-file data.sig data >out && grep -qx valid out || fail "verify valid"
printf 'date' | "$tool" verify --public pub.pem --signature-file data.sig >out; [ $? -eq 1 ] && grep -qx invalid out || fail "verify invalid"
expect 2 "cannot read --public" "$tool" verify --public missing.pem --signature-file data.sig data
expect 2 "not a PEM RSA public key" "$tool" verify --public key.pem --signature-file data.sig data

# Usage and I/O errors exit 2, negative verdicts 1; none writes to standard output.
expect 2 "16, 24 or 32 bytes" "$tool" encrypt --key 0011
expect 2 "exactly one of --key-file and --key" "$tool" encrypt
expect 2 "see --help" "$tool" frobnicate
expect 2 "only one option can read standard input" "$tool" wrap --public - --key-file -
expect 2 "cannot read INPUT" "$tool" encrypt --key "$K" nothing.bin
expect 2 "not an unencrypted PEM RSA private key" "$tool" sign --private pub.pem data
expect 2 "UTF-8" "$tool" error E1 $'\xff'
expect 2 "not a regular file or a pipe" "$tool" encrypt --key-file /dev/zero data
expect 2 "not a regular file or a pipe" "$tool" encrypt --key-file . data
expect 1 "decryption failed" "$tool" decrypt --key "$K" data
expect 1 "unwrapping failed" "$tool" unwrap --private key.pem data
printf 'zz' >bad.hex
expect 1 "not hex" "$tool" hex decode bad.hex

expect 2 "INPUT is also standard output" eval '"$tool" encrypt --key-file aes.hex hi.txt >>hi.txt'
[ "$(cat hi.txt)" = hi ] || fail "encrypt f >> f changed f"

# No message repeats a key, whatever the slip: random command lines with the AES key or a line of
# the private key in random places.
secret=$(sed -n 2p key.pem)
slips=("--key-file K" "K" "--key K0" "--key=K" "-kK" "-K" "--size K" "--public K" "--private K" "-o K/x"
       "--signature-file K" "--signature K" "--bogus K" "--key Kg" "extra K" "K K")
commands=(encrypt decrypt wrap unwrap sign verify keygen inspect "hex decode" hash error demo help)
for i in $(seq 40); do
  for s in "$K" "$secret"; do
    args="${commands[RANDOM % ${#commands[@]}]} ${slips[RANDOM % ${#slips[@]}]} ${slips[RANDOM % ${#slips[@]}]}"
    $tool ${args//K/$s} </dev/null >/dev/null 2>err
    ! grep -qF -- "${s:0:12}" err || fail "'$args' echoes the key: $(cat err)"
  done
done

# A decrypt of a text cut, tampered in its padding, or under another key fails, leaving no -o
# file (what its output leaves is the output's own test, tool_tests).
# Fixed keys and message: with random ones, one run in about 255 would find valid padding.
key=$(printf '%064d' 0 | tr 0 7) other=$(printf '%064d' 0 | tr 0 5)
seq 60000 >big
"$tool" encrypt --key "$key" big -o big.txt || fail "encrypt big"
head -c 200000 big.txt >cut.txt
{ head -c -13 big.txt; printf 'AAAA'; tail -c 9 big.txt; } >tampered.txt  # in the last block, with the padding
for case in "cut.txt $key" "tampered.txt $key" "big.txt $other"; do
  set -- $case
  expect 1 "decryption failed" "$tool" decrypt --key "$2" "$1" -o fresh.bin
  [ ! -e fresh.bin ] || fail "decrypt $1 left fresh.bin"
done
"$tool" decrypt --key "$key" big.txt | cmp -s - big || fail "decrypt big to standard output"

# Output that cannot be written is an I/O error; a closed pipe ends the tool by SIGPIPE (141),
# whatever the signal disposition it was started with.
expect 2 "cannot write -o" "$tool" keygen -o /dev/full
"$tool" keygen >/dev/full 2>err; [ $? -eq 2 ] && grep -q "cannot write the output" err || fail "keygen >/dev/full"
for disposition in - ''; do
  (trap "$disposition" PIPE; "$tool" encrypt --key "$K" big | head -c 10 >/dev/null; exit "${PIPESTATUS[0]}")
  [ $? -eq 141 ] || fail "closed pipe with SIGPIPE '${disposition:-ignored}'"
done

# inspect: the bytes, or what is wrong.
"$tool" wrap --public pub.pem --key "$K" >wrapped.txt
"$tool" inspect --key pub.pem wrapped.txt >out && grep -qx 'bytes: 256' out || fail "inspect a wrapped key"
"$tool" inspect --key key.pem --hex data.sig >out && grep -q '^hex: ' out || fail "inspect a signature with --hex"
cat pub.pem wrapped.txt | "$tool" inspect --key - >out && grep -qx 'bytes: 256' out || fail "inspect --key - reads the key first"
openssl base64 -in big -out wrapped.b64
"$tool" inspect wrapped.b64 >out; [ $? -eq 1 ] && grep -q "wrapped into lines" out || fail "inspect wrapped lines"
printf 'ab-_' | "$tool" inspect >out; [ $? -eq 1 ] && grep -q "URL-safe" out || fail "inspect URL-safe"
printf 'Zg==Zg==' | "$tool" inspect >out; [ $? -eq 1 ] && grep -q "'=' stands inside" out || fail "inspect = inside"
printf 'Zm9vYmFyYmF6' | "$tool" inspect --key pub.pem >out; [ $? -eq 1 ] && grep -q "not 256 bytes" out || fail "inspect not k"

# Every command's help, as --help and help COMMAND, says what it reads, writes and does on failure,
# with its own example, and puts no key on the command line; help into a full device fails.
for cmd in keygen encrypt decrypt wrap unwrap sign verify hash "hex encode" "hex decode" inspect error now demo; do
  help=$($tool $cmd --help)
  [ "$help" = "$($tool help $cmd)" ] || fail "'help $cmd' differs from '$cmd --help'"
  echo "$help" | grep '^  Example:' | grep -qE -- '--key[ =](\$|[0-9a-fA-F]{32})' && fail "'$cmd --help' puts a key on the command line"
  for field in Reads Writes Failure Example; do
    echo "$help" | grep -q "^  $field: " || fail "'$cmd --help' lacks $field"
  done
  echo "$help" | grep "^  Example:" | grep -q "cryptutil ${cmd%% *}" || fail "'$cmd --help' shows another command's example"
done
for args in --help help "help decrypt" --version --help-all; do
  $tool $args >/dev/full 2>/dev/null; [ $? -eq 2 ] || fail "'$args' into a full device did not exit 2"
done
expect 2 "no such command" "$tool" help frobnicate
"$tool" --help-all | grep -q '^\*cryptutil hex decode\*$' || fail "--help-all gives no heading per command"
"$tool" --version | grep -Eq '^cryptutil [0-9]+\.[0-9]+\.[0-9]+$' || fail "--version"
"$tool" demo | tail -n 1 | grep -q "^demo: OK" || fail "demo"

# openssl as a peer: an encryption each way, a signature, a wrapped key.
"$tool" encrypt --key "$K" big | sed 's/%2B/+/g' | openssl base64 -d -A | openssl enc -d -aes-256-ecb -K "$K" -nopad |
  head -c "$(wc -c <big)" | cmp -s - big || fail "openssl decrypts ours"
openssl enc -aes-256-ecb -K "$K" <big | openssl base64 -A | "$tool" decrypt --key "$K" | cmp -s - big || fail "we decrypt openssl's"
sed 's/%2B/+/g' data.sig | openssl base64 -d -A >sig.bin
openssl dgst -sha256 -verify pub.pem -signature sig.bin data >/dev/null || fail "openssl verifies our signature"
openssl dgst -sha256 -sign key.pem -out theirs.bin data
"$tool" verify --public pub.pem --signature "$(openssl base64 -A -in theirs.bin)" data >/dev/null || fail "we verify openssl's"
sed 's/%2B/+/g' wrapped.txt | openssl base64 -d -A >wrapped.bin
[ "$(openssl pkeyutl -decrypt -inkey key.pem -pkeyopt rsa_padding_mode:oaep -in wrapped.bin | od -An -tx1 | tr -d ' \n')" = "$K" ] ||
  fail "openssl unwraps our wrapped key"
printf "%s" "$K" | "$tool" hex decode >aes.bin
[ "$(openssl pkeyutl -encrypt -pubin -inkey pub.pem -pkeyopt rsa_padding_mode:oaep -in aes.bin | openssl base64 -A |
  "$tool" unwrap --private key.pem)" = "$K" ] || fail "we unwrap openssl's wrapped key"

[ "$failures" -eq 0 ] && echo "tool tests passed" || echo "$failures tool tests failed"
exit $((failures > 0))
