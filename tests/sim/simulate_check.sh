#!/usr/bin/env bash
# The simulator's fixed seeds with zero violations, and one seed run twice
# giving the same trace byte for byte.
#   simulate_check.sh <qov_simulate> <work dir>
set -euo pipefail
sim=$1
work=$2
mkdir -p "$work"
# Sanitizer builds run several times slower: fewer simulated hours there.
hours=${QOV_SIM_HOURS:-150}
"$sim" --seeds 6 --hours "$hours"
"$sim" --seed 1 --hours 24 --trace "$work/first.txt" >/dev/null
"$sim" --seed 1 --hours 24 --trace "$work/second.txt" >/dev/null
if ! cmp "$work/first.txt" "$work/second.txt"; then
  echo "simulate_check: seed 1 gave two different traces" >&2
  exit 1
fi
echo "seed 1 replayed byte for byte ($(wc -l <"$work/first.txt") lines)"
