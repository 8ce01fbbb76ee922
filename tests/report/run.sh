#!/usr/bin/env bash
# The run's report in a real browser: a real "UPDATE_ALL" run of the demo's
# patients against register-sim with the demo's register, then its
# report.html rendered by headless Chromium (tests/report/page_check.py).
# Run by scripts/test inside its Wine session, or alone (it then makes its
# own). The last line is "N passed, N failed".
#
#   tests/report/run.sh [--save PNG [OPTION...]]
#     --save PNG  also keeps the screenshot as PNG (docs/report.png is made
#                 so, with "/parallel:4 /rate:2" for a run of some minutes)
#     OPTION      further options of the run, e.g. /rate:2
set -uo pipefail
. "$(dirname "$0")/../../scripts/lib.sh"

SAVE=""
if [ "${1:-}" = "--save" ]; then SAVE=$2; shift 2; fi

TMP=$(mktemp -d)
OWN_DISPLAY=""
cleanup() {
  if [ -n "$SIM_PID" ]; then kill "$SIM_PID" 2>/dev/null || true; fi
  if [ -n "$OWN_DISPLAY" ]; then
    wineserver -k >/dev/null 2>&1 || true
    kill "$XVFB_PID" 2>/dev/null || true
  fi
  rm -rf "$TMP"
}
trap cleanup EXIT

start_display || { echo "0 passed, 1 failed"; exit 1; }
OWN_DISPLAY=$XVFB_PID
ensure_wineprefix
start_wineserver
start_register_sim "$ROOT/demo/register.txt" || { echo "0 passed, 1 failed"; exit 1; }

sqlite3 "$TMP/klinik.db" <"$ROOT/db/schema.sql" && sqlite3 "$TMP/klinik.db" <"$ROOT/demo/patients.sql" ||
  { echo "FAIL the demo's database could not be made"; echo "0 passed, 1 failed"; exit 1; }
printf '[PopulationManager]\r\nLOG_ID=demo\r\nLOG_PWD=demo\r\nLOG_ADDR=%s/PopmWs/WSPopMan.asmx\r\nFlagOtherArchve=0\r\n' \
  "$TOLMAR_REGISTER_SIM" >"$TMP/tolmar.ini"
printf '[oledb]\r\n; Everything after this line is an OLE DB initstring\r\nProvider=MSDASQL.1;Persist Security Info=False;Extended Properties="Driver={SQLite3};Database=%s"\r\n' \
  "$TMP/klinik.db" >"$TMP/klinik.udl"

(cd "$TMP" && timeout 300 wine "$BUILD/windows/tolmar07.exe" UPDATE_ALL klinik.udl /unattended "$@" >"$TMP/wine.log" 2>&1)
code=$?
report=$(ls -d "$TMP"/runs/*/report.html 2>/dev/null | head -n1)
if [ -z "$report" ]; then
  echo "FAIL the run (exit code $code) left no report.html"
  echo "0 passed, 1 failed"
  exit 1
fi
echo "PASS the run (exit code $code) left its report"

python3 "$ROOT/tests/report/page_check.py" "$report" "$TMP/report.png" | tee "$TMP/checks.txt"
if [ -n "$SAVE" ] && [ -f "$TMP/report.png" ]; then cp "$TMP/report.png" "$SAVE"; fi
passed=$((1 + $(grep -c '^PASS' "$TMP/checks.txt")))
failed=$(grep -c '^FAIL' "$TMP/checks.txt")
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
