#!/usr/bin/env bash
# Runs the constant-time test under valgrind memcheck and fails on any report whose innermost
# frame is the library's own code (its sources are named src/... or components/... in its debug
# information); reports inside the crypto library or libc are theirs.
#   constant_time_check.sh VALGRIND TEST
set -u
log=$(mktemp)
trap 'rm -f "$log"' EXIT
"$1" --tool=memcheck --error-limit=no --fullpath-after= --num-callers=8 --log-file="$log" "$2" || {
  echo "the test failed under valgrind"; cat "$log"; exit 1; }
# The innermost frame of each report, past code inlined from system headers into its caller.
ours=$(awk '/depends on uninitialised|Use of uninitialised value/ {want=1; head=$0; next}
            want && /(at|by) 0x/ && !/\(\/usr\/include\// {want=0; if ($0 ~ /[( \/](src|components)\/[^ ]*:[0-9]+\)/) print head "\n" $0}' "$log")
if [ -n "$ours" ]; then
  echo "secret-dependent branches or indexes in the library:"
  echo "$ours"
  exit 1
fi
echo "no secret-dependent branch or index in the library ($(grep -c 'uninitialised' "$log") reports elsewhere)"
