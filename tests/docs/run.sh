#!/usr/bin/env bash
# Checks of the documentation against the program: every message the program
# can write or show is in the admin guide's table (scripts/check-messages),
# the checker itself catches a new text and a stale row, and every relative
# link of the README and docs/ leads to a file. Prints "PASS name" or
# "FAIL name: why" for each; the last line is "N passed, N failed".
set -uo pipefail
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
PASSED=0
FAILED=0
TMP=$(mktemp -d)
trap 'rm -rf "$TMP"' EXIT

check() {
  local name=$1 out
  shift
  if out=$("$@" 2>&1); then
    echo "PASS $name"
    PASSED=$((PASSED + 1))
  else
    echo "FAIL $name: $out"
    FAILED=$((FAILED + 1))
  fi
}

# A copy of the sources and the guide, for the checker's own tests.
copy_tree() {
  rm -rf "$TMP/tree"
  mkdir -p "$TMP/tree/docs"
  cp -r "$ROOT/app" "$ROOT/register" "$ROOT/tools" "$TMP/tree/"
  cp "$ROOT/docs/admin-guide.md" "$TMP/tree/docs/"
}

every_message_explained() {
  "$ROOT/scripts/check-messages"
}

# A text added to the program without a row fails the check, naming the file.
new_message_without_row_fails() {
  copy_tree
  printf '%s\n' 'const wchar_t* kNew = L"Det här är ett nytt meddelande: ";' >"$TMP/tree/app/new_text.h"
  local out rc
  out=$("$ROOT/scripts/check-messages" "$TMP/tree" 2>&1)
  rc=$?
  [ "$rc" -eq 1 ] || { echo "exit code $rc"; return 1; }
  grep -qF 'app/new_text.h:1: not in the guide' <<<"$out" || { echo "not named: $out"; return 1; }
}

# A row that no text of the program matches any more fails too.
stale_row_fails() {
  copy_tree
  sed -i 's/^| `Fann inte person!` |/| `Hittade ingen sådan patient alls!` |/' "$TMP/tree/docs/admin-guide.md"
  local out rc
  out=$("$ROOT/scripts/check-messages" "$TMP/tree" 2>&1)
  rc=$?
  [ "$rc" -eq 1 ] || { echo "exit code $rc"; return 1; }
  grep -qF 'no text of the program matches: Hittade ingen sådan patient alls!' <<<"$out" || { echo "not named: $out"; return 1; }
  grep -qF 'not in the guide' <<<"$out" || { echo "the text it explained is not missed: $out"; return 1; }
}

# Every relative link in the README and docs/ names a file of the tree.
links_lead_somewhere() {
  local file target bad=""
  for file in "$ROOT/README.md" "$ROOT"/docs/*.md; do
    while IFS= read -r target; do
      target=${target%%#*}
      [ -z "$target" ] && continue
      [ -e "$(dirname "$file")/$target" ] || bad+=" ${file#"$ROOT"/}->$target"
    done < <(grep -oE '\]\([^)[:space:]]+\)' "$file" | sed 's/^](//; s/)$//' | grep -vE '^(https?|mailto):')
  done
  [ -z "$bad" ] || { echo "broken:$bad"; return 1; }
}

check docs.EveryMessageIsExplained every_message_explained
check docs.ANewMessageWithoutARowFails new_message_without_row_fails
check docs.AStaleRowFails stale_row_fails
check docs.LinksLeadToFiles links_lead_somewhere

echo "$PASSED passed, $FAILED failed"
[ "$FAILED" -eq 0 ]
