#!/usr/bin/env bash
# Runs the README's tool examples as written, in a scratch directory holding the README (a fresh
# clone's files), with the tool on PATH as the README's setup puts it there; each command must
# succeed and print what the README shows.
#   readme_tool_test.sh README [EMULATOR ARGS...] TOOL
set -u
readme=$1; shift
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/bin" && printf '#!/bin/sh\nexec %s "$@"\n' "$*" >"$work/bin/cryptutil" && chmod +x "$work/bin/cryptutil"
cp "$readme" "$work/README.md" && cd "$work" || exit 1
export PATH="$work/bin:$PATH"
failures=0 commands=0
# The console block of the section "## The tool": "$ " lines are commands, the others their output.
awk '/^## The tool/ { in_section = 1 } /^## / && !/^## The tool/ { in_section = 0 }
     in_section && /^```console/ { block = 1; next } block && /^```/ { block = 0 } block' "$work/README.md" >examples
[ -s examples ] || { echo "FAIL: no console block in the README's tool section"; exit 1; }
run() {
  [ -n "$command" ] || return 0
  commands=$((commands + 1))
  got=$(bash -o pipefail -c "$command" 2>stderr) || { echo "FAIL: '$command' failed: $(cat stderr)"; failures=$((failures + 1)); return; }
  [ "$got" = "$expected" ] || { echo "FAIL: '$command' printed '$got', the README shows '$expected'"; failures=$((failures + 1)); }
}
command="" expected=""
while IFS= read -r line; do
  if [ "${line#\$ }" != "$line" ]; then
    run
    command=${line#\$ } expected=""
  else
    expected+=${expected:+$'\n'}$line
  fi
done <examples
run
[ "$failures" -eq 0 ] && echo "the README's $commands tool examples ran" || echo "$failures of $commands README examples failed"
exit $((failures > 0))
