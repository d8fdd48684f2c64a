#!/usr/bin/env bash
# The documentation against the code it describes:
#  - docs/configuration.md's "## Values" table has one row per value the
#    loader reads (src/config/param_fields.def) and no other row;
#  - no other document repeats a row of that table (one table, one place);
#  - every relative link in README.md and docs/*.md reaches a file or folder.
# Usage: docs_reference.sh SOURCE_DIR
set -uo pipefail
root=${1:?usage: docs_reference.sh SOURCE_DIR}
cd "$root" || exit 1
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# Registry value names of the loader's fields. A list field (CheckAddrList)
# is stored as <name>_0 ... <name>_N; its row is named by <name>_0.
fields=$(sed -n 's/^QOV_PARAM(\([a-z0-9_]*\), *\([^,]*\),.*/\1 \2/p' src/config/param_fields.def |
  awk '{ print ($2 ~ /CheckAddrList/) ? $1 "_0" : $1 }' | sort)
[ -n "$fields" ] || fail "no QOV_PARAM in src/config/param_fields.def"

# The names of the rows whose first cell is a name alone (`name`, or a range
# `name_0` … `name_N`), in one section (from its heading to the next) or in
# a whole file. A row that merely begins with a name ("`x` not set") is not
# a row of the reference.
row_names() {  # FILE [SECTION_HEADING]
  awk -v section="${2:-}" '
    BEGIN { inside = (section == "") }
    /^#/ { inside = (section == "" || $0 == section); next }
    inside && /^\|/ {
      split($0, cells, "|"); cell = cells[2]
      gsub(/^ +| +$/, "", cell)
      if (cell ~ /^`[^`]+`( … `[^`]+`)?$/) { split(cell, q, "`"); print q[2] }
    }' "$1"
}

documented=$(row_names docs/configuration.md "## Values" | sort)
[ -n "$documented" ] || fail "docs/configuration.md has no \"## Values\" table"
missing=$(comm -23 <(echo "$fields") <(echo "$documented" | sort -u))
extra=$(comm -13 <(echo "$fields") <(echo "$documented" | sort -u))
twice=$(echo "$documented" | uniq -d)
for v in $missing; do fail "docs/configuration.md: no row for $v"; done
for v in $extra; do fail "docs/configuration.md: row $v is not a value the loader reads"; done
for v in $twice; do fail "docs/configuration.md: $v has more than one row"; done

# Anywhere else a value's row would be a second copy of the reference.
for f in README.md docs/*.md; do
  [ "$f" = docs/configuration.md ] && continue
  for v in $(comm -12 <(echo "$fields") <(row_names "$f" | sort -u)); do
    fail "$f: a table row for $v (it belongs in docs/configuration.md only)"
  done
done

# Relative links: [text](target) outside code spans; anchors are not checked.
for f in README.md docs/*.md; do
  dir=$(dirname "$f")
  while IFS= read -r target; do
    target=${target%%#*}
    case $target in '' | http://* | https://* | mailto:*) continue ;; esac
    path=$(realpath -m --relative-to=. "$dir/$target")
    [ -e "$path" ] && continue
    fail "$f: link to $target: no such file"
  done < <(sed 's/`[^`]*`//g' "$f" | grep -o '\]([^)[:space:]]*)' | sed 's/^](//; s/)$//')
done

if [ "$failures" -gt 0 ]; then
  echo "$failures problem(s)"
  exit 1
fi
echo "ok: $(echo "$fields" | wc -l) values documented once; links resolve"
