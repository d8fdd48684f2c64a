#!/usr/bin/env bash
# The project's shell scripts run under `set -o pipefail`, where a reader that
# stops before its input ends (`grep -q`, `head`, `awk … exit`) fails the
# pipeline whenever the writer is still writing: the writer dies of SIGPIPE,
# at random, more often on a loaded machine. Readers in a pipeline read to
# the end instead (`grep … >/dev/null`, `sed -n 1,Np`). A line that ends in
# `|| true` may keep such a reader.
# Usage: script_pipes.sh SOURCE_DIR
set -uo pipefail
root=${1:?usage: script_pipes.sh SOURCE_DIR}
cd "$root" || exit 1
mapfile -t scripts < <({ ls scripts/* .ci/run tests/wine/*.sh tests/native/*.sh; } 2>/dev/null |
  grep -vx tests/native/script_pipes.sh)
found=$(grep -nE '\| *(grep -[A-Za-z]*[ql][A-Za-z]*\b|head\b|awk [^|]*\bexit\b)' "${scripts[@]}" |
  grep -vE '\|\| true\)?$|^[^:]*:[0-9]+: *#')
if [ -n "$found" ]; then
  echo "FAIL: readers that stop early in a pipeline:"
  echo "$found"
  exit 1
fi
echo "ok: ${#scripts[@]} scripts, no early-exit reader in a pipeline"
