#!/usr/bin/env bash
# Runs the constant-time test under valgrind memcheck and fails on every report with a frame of the
# library's own code anywhere on its stack (its sources are named src/... or components/... in its
# debug information), save those inside the calls named below.
#   constant_time_check.sh VALGRIND TEST
#
# Excluded, by the function on the report's stack (below its innermost frame), with the reason:
#   RSA_sign                  the signature itself: the crypto library's private-key operation
#   SignSha256, OaepDecrypt   the signature and the decryption themselves: their only work with the
#                             private key is RSA_sign, RSA_private_decrypt, EVP_PKEY_sign or
#                             EVP_PKEY_decrypt, which the crypto library may enter by a jump,
#                             leaving no frame of their own
#   RSA_free                  BoringSSL's release of the key: it frees the Montgomery contexts its
#                             private-key operation cached for p and q
#   BN_bin2bn                 the numbers handed to the crypto library (rsa_key.cpp ToBignum): it
#                             skips zero bytes in front and trims zero words on top, so its branches
#                             follow a number's length, which a key's DER makes public; every way
#                             into the crypto library, its own key decoders included, passes there
#   MakeKey                   the same, for OpenSSL 3 without deprecated APIs: BN_bn2nativepad
#                             (entered by a jump) compares the number's length with the buffer's,
#                             and EVP_PKEY_fromdata converts the bytes back (BN_native2bn)
set -u
log=$(mktemp)
trap 'rm -f "$log"' EXIT
"$1" --tool=memcheck --error-limit=no --fullpath-after= --num-callers=60 --log-file="$log" "$2" || {
  echo "the test failed under valgrind"; cat "$log"; exit 1; }
awk -v excluded='^(RSA_sign|cryptutil::detail::(SignSha256|OaepDecrypt)|RSA_free|BN_bin2bn|cryptutil::detail::[(]anonymous namespace[)]::MakeKey)[ (<]' '
  function finish() {
    if (!open) return
    open = 0; ++reports
    if (!ours) return
    if (skip) { ++skipped[skip]; return }
    ++found; print report
  }
  /depends on uninitialised|Use of uninitialised value/ { finish(); open = 1; ours = 0; skip = ""; frames = 0; report = $0; next }
  open && /^==[0-9]+== *$/ { finish(); next }
  open && /(at|by) 0x/ {
    report = report "\n" $0
    name = $0; sub(/^.*(at|by) 0x[0-9A-Fa-f]+: /, "", name)
    mine = $0 ~ /[( \/](src|components)\/[^ ]*:[0-9]+\)/
    # Only inside the call: a report in a function of ours of that name counts.
    if (skip == "" && name ~ excluded && !(mine && frames == 0)) { match(name, excluded); skip = substr(name, 1, RLENGTH - 1) }
    ours = ours || mine; ++frames
  }
  END {
    finish()
    for (name in skipped) printf "excluded: %d reports inside %s\n", skipped[name], name
    if (found) { printf "%d secret-dependent branches or indexes with the library on the stack (of %d reports)\n", found, reports; exit 1 }
    printf "no secret-dependent branch or index with the library on the stack (%d reports in all)\n", reports
  }' "$log"
