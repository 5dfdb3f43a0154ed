#!/usr/bin/env bash
# The tool attacked while it runs: signals at random points, a reader copying its output, a
# concurrent appender, and the modes of every file it holds open. Native builds only (/proc,
# signals, timing).
#   tool_hazards_test.sh TOOL FAILING_RANDOM_LIBRARY
set -u
tool=$1
failing_random=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
mkdir out tmp
export TMPDIR="$work/tmp"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

"$tool" keygen -o key.hex || exit 1
head -c 50000000 /dev/urandom >message
"$tool" encrypt --key-file key.hex message -o message.txt || exit 1
# A text that fails at its very end: the message, then a block of zeros, which is no padding (a text
# made by a wrong key or random tampering would pass its padding check one time in about 255).
{ cat message; head -c 32 /dev/zero; } | openssl enc -aes-256-ecb -K "$(cat key.hex)" -nopad | openssl base64 -A \
  >tampered.txt
ms() { echo $(($(date +%s%N) / 1000000)); }
start=$(ms)
"$tool" decrypt --key-file key.hex message.txt -o out/plain || exit 1
run=$(($(ms) - start + 5))
rm out/plain

# Killed at a random point of a 50 MB decrypt -o (or > file, spooled in TMPDIR), nothing is left
# in the output directory or TMPDIR, and the output is empty or whole. Job control gives the background job SIGINT as a terminal would.
set -m
exec 3>&2 2>/dev/null  # job control's reports of each kill
for sig in INT TERM HUP; do
  killed=0
  for round in 1 2 3; do
    for target in "-o out/plain" ">out/plain"; do
      rm -f out/plain
      eval "\"$tool\" decrypt --key-file key.hex message.txt $target 2>/dev/null &"
      pid=$!
      sleep "$(awk -v r="$RANDOM" -v t="$run" 'BEGIN { printf "%.3f", r / 32768 * t / 1000 }')"
      kill -s "$sig" "$pid" 2>/dev/null
      wait "$pid"
      status=$?
      [ "$status" -ne $((128 + $(kill -l "$sig"))) ] || killed=$((killed + 1))
      left=$(ls -A out tmp | grep -v -e '^out:$' -e '^tmp:$' -e '^$' -e '^plain$')
      [ -z "$left" ] || fail "SIG$sig ($target, exit $status) left: $left"
      if [ -s out/plain ]; then  # whole: signalled as it ended
        cmp -s out/plain message || fail "SIG$sig left a partial output ($target, exit $status)"
      fi
    done
  done
  [ "$killed" -gt 0 ] || fail "no run was ended by SIG$sig"
done
set +m
exec 2>&3 3>&-

# check_modes PID INPUT: every regular file PID holds open past fd 2, its INPUT aside, is 0600
# (a file seen twice under the same name, as descriptors are reused meanwhile).
check_modes() {
  local fd name mode
  for fd in /proc/"$1"/fd/*; do
    [ "${fd##*/}" -gt 2 ] 2>/dev/null && name=$(readlink "$fd") && [ "$name" != "$work/$2" ] || continue
    mode=$(stat -L -c %F:%a "$fd" 2>/dev/null) && [ "$(readlink "$fd")" = "$name" ] || continue
    [ "${mode%:*}" != "regular file" ] || [ "${mode#*:}" = 600 ] || fail "fd ${fd##*/} ($name) has mode ${mode#*:}"
  done
}

# A reader copying '> out' while a decrypt that will fail runs sees nothing of the message, and
# the files the tool holds open are 0600 throughout (fd 1 is the user's own file).
: >out/plain
"$tool" decrypt --key-file key.hex tampered.txt >out/plain 2>/dev/null &
pid=$!
copies=0
while kill -0 "$pid" 2>/dev/null; do
  cp out/plain "copy" && [ -s copy ] && fail "a copy of '> out' taken mid-run holds $(wc -c <copy) bytes"
  check_modes "$pid" tampered.txt
  copies=$((copies + 1))
done
wait "$pid"; [ $? -eq 1 ] && [ ! -s out/plain ] && [ "$copies" -gt 1 ] || fail "decrypt > out of a failing text ($copies copies)"
"$tool" decrypt --key-file key.hex message.txt -o out/watched &
pid=$!
while kill -0 "$pid" 2>/dev/null; do
  check_modes "$pid" message.txt
done
wait "$pid" || fail "decrypt -o while watched"

# New secret files are 0600 whatever the umask; others follow it (unwrap's: tool_tests).
for mask in 022 000; do
  rm -f out/*
  (umask $mask && "$tool" keygen -o out/k && "$tool" decrypt --key-file key.hex message.txt -o out/d &&
    "$tool" encrypt --key-file key.hex key.hex -o out/e) || fail "umask $mask: keygen, decrypt or encrypt -o"
  [ "$(stat -c %a out/k out/d out/e | tr '\n' ' ')" = "600 600 $(printf '%o' $((0666 & ~0$mask))) " ] ||
    fail "umask $mask: keygen, decrypt, encrypt -o made $(stat -c %a out/k out/d out/e | tr '\n' ' ')"
done

# '>> log' with another process appending meanwhile: every one of its lines survives, failing
# runs add nothing, and succeeding runs add their output whole (its writes may take turns with the
# appender's, as cat's would).
(for i in $(seq 40); do echo "appender $i"; sleep 0.01; done) >>log &
appender=$!
for i in 1 2 3 4; do
  "$tool" decrypt --key-file key.hex tampered.txt >>log 2>/dev/null
  head -c 3000000 message | "$tool" hex encode >>log  # 6 MB: past what is held in memory
done
wait "$appender"
[ "$(grep -o 'appender [0-9]*' log | sort -u | wc -l)" -eq 40 ] || fail "'>> log' lost lines of the appender"
head -c 3000000 message | od -An -tx1 -v | tr -d ' \n' >expected && echo >>expected
cat expected expected expected expected >expected4
perl -0pe 's/appender \d+\n//g' log | cmp -s - expected4 || fail "'>> log' did not get each output whole, and only those"

# A random generator that fails: no key is made, from keygen or demo, to standard output or -o.
for cmd in keygen "keygen -o out/new.hex" demo; do
  LD_PRELOAD="$failing_random" "$tool" $cmd >stdout 2>stderr
  status=$?
  [ "$status" -eq 2 ] && [ ! -s stdout ] && [ ! -e out/new.hex ] && grep -q "random generator failed" stderr ||
    fail "'$cmd' with a failing generator: exit $status, $(wc -c <stdout) bytes out, '$(cat stderr)'"
done

[ "$failures" -eq 0 ] && echo "tool hazard tests passed" || echo "$failures tool hazard tests failed"
exit $((failures > 0))
