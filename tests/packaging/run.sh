#!/usr/bin/env bash
# Tests of what is shipped: the release files of scripts/package, the MSI
# installed, upgraded, refused as a downgrade and uninstalled for real by
# Wine's own msiexec, and Authenticode signing with scripts/sign.
#
# Run by scripts/test inside its Wine session (DISPLAY, WINEPREFIX and a
# running wineserver); needs the built Windows tree. Every check prints
# "PASS name" or "FAIL name: why"; the last line is "N passed, N failed".
# The MSI tests leave nothing behind in the prefix: the product is
# uninstalled, the test folder and the test's registry keys are removed, also
# when a check fails.
set -uo pipefail
. "$(dirname "$0")/../../scripts/lib.sh"

PASSED=0
FAILED=0
TMP=$(mktemp -d)
VERSION=$(tr -d '[:space:]' <"$BUILD/windows/tolmar_version.txt")
IFS=. read -r MAJOR MINOR PATCH <<<"$VERSION"
NEXT_VERSION="$MAJOR.$MINOR.$((PATCH + 1))"
UPGRADE_CODE='{0B2E3D47-10A6-4E02-81DE-2D35DF202573}'

MSI1="$BUILD/dist/tolmar07-$VERSION.msi"
MSI2="$TMP/next/tolmar07-$NEXT_VERSION.msi"
MSI1B="$TMP/again/tolmar07-$VERSION.msi"

# The folder an administrator chose (a space in it on purpose), and the
# registry key of the program's settings when the suite starts it there.
INSTALL_WIN='C:\tolmar-msi-test\Suite Folder'
INSTALL_UNIX="$WINEPREFIX/drive_c/tolmar-msi-test/Suite Folder"
APP_KEY='C_tolmar-msi-test_Suite_Folder'
SETTINGS_KEY="SOFTWARE\\Norvena\\$APP_KEY"
RECORD_KEY='HKLM\SOFTWARE\Norvena\Tolmar'
EVENT_KEY='HKLM\SYSTEM\CurrentControlSet\Services\EventLog\Application\Tolmar'

# A Unix path as Wine's Z: drive sees it.
winpath() { printf 'Z:%s' "${1//\//\\}"; }

# Runs a Wine program with its output in $TMP/wine.out (never through a
# pipe: a Wine service started on the way may keep the pipe open). Returns
# the program's exit status.
wine_run() {
  timeout --kill-after=10 120 wine "$@" >"$TMP/wine.out" 2>&1 </dev/null
}

msiexec_run() {
  local log
  log=$(mktemp "$TMP/msiexec-XXXX.log")
  wine_run msiexec "$@" /qn /l*v "$(winpath "$log")"
}

# The Tolmar products Wine's installer has registered: "{product code} version" lines.
installed_products() {
  wine_run reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' /s || return 0
  tr -d '\r' <"$TMP/wine.out" | awk '
    function flush() { if (name == "Tolmar" && publisher == "Norvena AB") print key, version }
    /^HKEY_/ { flush(); n = split($0, p, "\\"); key = p[n]; name = ""; publisher = ""; version = ""; next }
    $1 == "DisplayName" { name = substr($0, index($0, "REG_SZ") + 10) }
    $1 == "DisplayVersion" { version = substr($0, index($0, "REG_SZ") + 10) }
    $1 == "Publisher" { publisher = substr($0, index($0, "REG_SZ") + 10) }
    END { flush() }'
}

# reg_value ROOT\KEY NAME VIEW: the REG_SZ value, or nothing.
reg_value() {
  wine_run reg query "$1" /v "$2" "/reg:$3" || return 0
  tr -d '\r' <"$TMP/wine.out" | awk -v n="$2" '$1 == n && $2 == "REG_SZ" { print substr($0, index($0, "REG_SZ") + 10) }'
}

# The program's settings as the suite's use left them, in both roots of the
# 32-bit view, and the files beside the program that are not the installer's.
SETTINGS=(
  "HKCU\\$SETTINGS_KEY\\Tolmar|KunderSQL|SELECT PATIENTNR, PERSONNR FROM KUNDER WHERE AKTIV = 'T' ORDER BY PERSONNR"
  "HKLM\\$SETTINGS_KEY\\Tolmar|KunderSQL|SELECT PATIENTNR, PERSONNR FROM KUNDER ORDER BY PERSONNR"
  "HKLM\\$SETTINGS_KEY\\DataProvider|DefaultDataProvider|klinik.udl"
)
KEPT_FILES=(tolmar.ini klinik.udl "errors 2026-12-09.txt" notes.err)

write_user_state() {
  mkdir -p "$INSTALL_UNIX"
  printf '[PopulationManager]\r\nLOG_ID=klinik\r\nLOG_ADDR=https://register.example/PopmWs/WSPopMan.asmx\r\n' >"$INSTALL_UNIX/tolmar.ini"
  cp "$ROOT/packaging/samples/klinik.udl" "$INSTALL_UNIX/klinik.udl"
  printf '19121212-1212 Kunde inte hitta personen\r\n' >"$INSTALL_UNIX/errors 2026-12-09.txt"
  printf 'x\r\n' >"$INSTALL_UNIX/notes.err"
  (cd "$INSTALL_UNIX" && sha256sum "${KEPT_FILES[@]}" >"$TMP/kept.sha256")
  local entry key name value
  for entry in "${SETTINGS[@]}"; do
    IFS='|' read -r key name value <<<"$entry"
    wine_run reg add "$key" /v "$name" /d "$value" /f /reg:32 || { echo "cannot write $key $name"; return 1; }
  done
}

# Everything the administrator and the program keep is still there, unchanged.
user_state_kept() {
  (cd "$INSTALL_UNIX" 2>/dev/null && sha256sum --quiet -c "$TMP/kept.sha256" >/dev/null 2>&1) ||
    { echo "files beside the program changed or went: $(ls -A "$INSTALL_UNIX" 2>/dev/null | tr '\n' ' ')"; return 1; }
  local entry key name value actual
  for entry in "${SETTINGS[@]}"; do
    IFS='|' read -r key name value <<<"$entry"
    actual=$(reg_value "$key" "$name" 32)
    [ "$actual" = "$value" ] || { echo "setting $key $name is '$actual'"; return 1; }
  done
}

remove_installation() {
  local code version
  while read -r code version; do
    [ -n "$code" ] && wine_run msiexec /x "$code" /qn
  done < <(installed_products)
  wine_run reg delete "HKCU\\$SETTINGS_KEY" /f /reg:32
  wine_run reg delete "HKLM\\$SETTINGS_KEY" /f /reg:32
  wine_run reg delete "$RECORD_KEY" /f /reg:64
  wine_run reg delete "$EVENT_KEY" /f /reg:64
  rm -rf "$WINEPREFIX/drive_c/tolmar-msi-test"
}
cleanup() {
  remove_installation
  rm -rf "$TMP"
}
trap cleanup EXIT

# run_check NAME FUNCTION: counts the check; the function prints why it failed.
run_check() {
  local name=$1 out
  out=$("$2" 2>&1)
  if [ $? -eq 0 ]; then
    PASSED=$((PASSED + 1))
    echo "PASS $name"
  else
    FAILED=$((FAILED + 1))
    echo "FAIL $name: ${out:-no detail}"
  fi
}

# ---- the release files --------------------------------------------------------

check_package() {
  "$ROOT/scripts/package" --no-build >"$TMP/package.log" 2>&1 || { tail -n 5 "$TMP/package.log"; return 1; }
  local dist="$BUILD/dist" name="tolmar07-$VERSION"
  [ "$(cd "$dist" && ls | sort | tr '\n' ' ')" = "SHA256SUMS $name.msi $name.zip " ] || { echo "dist holds: $(ls "$dist")"; return 1; }
  (cd "$dist" && sha256sum --quiet -c SHA256SUMS) || { echo "SHA256SUMS do not match"; return 1; }
  local listing expected
  listing=$(unzip -Z1 "$dist/$name.zip" | grep -v '/$' | sort | tr '\n' ' ')
  expected="$name/README.md $name/docs/admin-guide.md $name/samples/klinik.udl $name/samples/tolmar-nightly.xml $name/samples/tolmar.ini $name/tolmar07.exe "
  [ "$listing" = "$expected" ] || { echo "zip holds: $listing"; return 1; }
  mkdir -p "$TMP/zip"
  unzip -q "$dist/$name.zip" -d "$TMP/zip"
  cmp -s "$TMP/zip/$name/tolmar07.exe" "$BUILD/windows/tolmar07.exe" || { echo "zip's program differs from the build"; return 1; }
  [ "$(head -c 2 "$TMP/zip/$name/samples/klinik.udl" | od -An -tx1 | tr -d ' ')" = "fffe" ] || { echo "klinik.udl is not UTF-16"; return 1; }
  iconv -f UTF-16 -t UTF-8 "$TMP/zip/$name/samples/klinik.udl" | grep -q '^Provider=SQLOLEDB.1;' || { echo "klinik.udl has no provider line"; return 1; }
  grep -q '^\[PopulationManager\]' "$TMP/zip/$name/samples/tolmar.ini" || { echo "tolmar.ini has no section"; return 1; }
  scheduled_task_ok "$TMP/zip/$name/samples/tolmar-nightly.xml" || return 1
  # The guide's installing section names the same version.
  grep -qF "The program's version is **$VERSION**" "$ROOT/docs/admin-guide.md" || { echo "the admin guide names another version"; return 1; }
  grep -qF "msiexec /i tolmar07-$VERSION.msi" "$ROOT/docs/admin-guide.md" || { echo "the admin guide's msiexec line names another package"; return 1; }
}

# The sample scheduled task as Task Scheduler reads it: UTF-16 with a mark,
# well-formed, in the task schema's namespace, and saying what the admin guide
# explains (SYSTEM, the program with UPDATE_ALL and /unattended, "Start in"
# set, no second instance, a time limit).
scheduled_task_ok() {
  python3 - "$1" <<'PY' || return 1
import sys, xml.etree.ElementTree as ET
data = open(sys.argv[1], "rb").read()
if not data.startswith(b"\xff\xfe"):
    sys.exit("the scheduled task is not UTF-16 with a mark")
ns = {"t": "http://schemas.microsoft.com/windows/2004/02/mit/task"}
try:
    root = ET.fromstring(data)
except ET.ParseError as e:
    sys.exit(f"the scheduled task is not well-formed: {e}")
def one(path):
    found = root.find(path, ns)
    if found is None or not (found.text or "").strip():
        sys.exit(f"the scheduled task has no {path}")
    return found.text.strip()
checks = {
    "t:Principals/t:Principal/t:UserId": lambda v: v == "S-1-5-18",
    "t:Actions/t:Exec/t:Command": lambda v: v.lower().endswith('\\tolmar07.exe"'),
    "t:Actions/t:Exec/t:Arguments": lambda v: v.split()[0] == "UPDATE_ALL" and "/unattended" in v.split(),
    "t:Actions/t:Exec/t:WorkingDirectory": lambda v: len(v) > 3,
    "t:Settings/t:MultipleInstancesPolicy": lambda v: v == "IgnoreNew",
    "t:Settings/t:ExecutionTimeLimit": lambda v: v.startswith("PT") and v != "PT0S",
}
for path, ok in checks.items():
    value = one(path)
    if not ok(value):
        sys.exit(f"the scheduled task's {path} is {value!r}")
PY
}

# What msiinfo shows an administrator, and what makes uninstall remove only
# the program: its two files, one registry record of the folder, the event
# source, nothing else.
check_msi_properties() {
  local props expected
  [ -f "$MSI1" ] || { echo "no $MSI1"; return 1; }
  props=$(msiinfo export "$MSI1" Property | tr -d '\r')
  for expected in "ProductName	Tolmar" "ProductVersion	$VERSION" "Manufacturer	Norvena AB" \
                  "UpgradeCode	$UPGRADE_CODE" "ALLUSERS	1" "ARPNOMODIFY	1"; do
    grep -qxF "$expected" <<<"$props" || { echo "no property '$expected'"; return 1; }
  done
  msiinfo suminfo "$MSI1" | grep -q '^Template: x64;' || { echo "not an x64 package"; return 1; }
  # The program's file version and language (Swedish) as its version resource has them.
  [ "$(msiinfo export "$MSI1" File | tail -n +4 | cut -f1,3,5,6 | tr -d '\r' | sort)" = "tolmar07.exe	tolmar07.exe	$VERSION.0	1053
tolmar_nightly.xml	tolmar-nightly.xml		" ] ||
    { echo "File table: $(msiinfo export "$MSI1" File | tail -n +4)"; return 1; }
  ! msiinfo export "$MSI1" MsiFileHash | tail -n +4 | cut -f1 | grep -qxF tolmar07.exe || { echo "a versioned file has a hash row"; return 1; }
  local registry
  registry=$(msiinfo export "$MSI1" Registry | tail -n +4 | cut -f2-5 | tr -d '\r' | sort)
  [ "$registry" = "2	SOFTWARE\\Norvena\\Tolmar	InstallDir	[INSTALLDIR]
2	SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\Tolmar	EventMessageFile	[#tolmar07.exe]
2	SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\Tolmar	TypesSupported	#7" ] ||
    { echo "Registry table: $registry"; return 1; }
  msiinfo export "$MSI1" CustomAction | tr -d '\r' | grep -qE "^SetArpInstallLocation	[0-9]+	ARPINSTALLLOCATION	\[INSTALLDIR\]" ||
    { echo "no ARPINSTALLLOCATION"; return 1; }
  [ -z "$(msiinfo export "$MSI1" RemoveFile | tail -n +4)" ] || { echo "the package removes further files"; return 1; }
  # A 64-bit component in INSTALLDIR, whose default is the suite's folder.
  msiinfo export "$MSI1" Component | tr -d '\r' | awk -F'\t' '$1 == "Program" && $3 == "INSTALLDIR" && int($4 / 256) % 2 == 1 { ok = 1 } END { exit !ok }' ||
    { echo "the program's component is not 64-bit in INSTALLDIR"; return 1; }
  msiinfo export "$MSI1" Directory | tr -d '\r' | grep -qxF "INSTALLDIR	NorvenaFolder	Norvena Suite" || { echo "INSTALLDIR default"; return 1; }
  # Major upgrade: older versions are removed, newer ones refuse the install.
  # 513: migrate features, and the same version counts (VersionMaxInclusive).
  msiinfo export "$MSI1" Upgrade | tr -d '\r' | grep -qF "$UPGRADE_CODE		$VERSION		513		WIX_UPGRADE_DETECTED" || { echo "no major upgrade row"; return 1; }
  msiinfo export "$MSI1" Upgrade | tr -d '\r' | grep -qF "$UPGRADE_CODE	$VERSION			2		WIX_DOWNGRADE_DETECTED" || { echo "no downgrade row"; return 1; }
}

# ---- install, upgrade, downgrade, uninstall under Wine's msiexec ----------------

check_install() {
  [ -z "$(installed_products)" ] || { echo "a Tolmar product is installed already: $(installed_products)"; return 1; }
  msiexec_run /i "$(winpath "$MSI1")" "INSTALLDIR=$INSTALL_WIN" || { echo "msiexec /i ended with $?"; return 1; }
  cmp -s "$INSTALL_UNIX/tolmar07.exe" "$BUILD/windows/tolmar07.exe" || { echo "tolmar07.exe not in the chosen folder"; return 1; }
  scheduled_task_ok "$INSTALL_UNIX/tolmar-nightly.xml" || return 1
  local products
  products=$(installed_products)
  [ "$(cut -d' ' -f2 <<<"$products")" = "$VERSION" ] || { echo "registered: '$products'"; return 1; }
  [ "$(reg_value "$RECORD_KEY" InstallDir 64)" = "$INSTALL_WIN\\" ] || { echo "folder record: $(reg_value "$RECORD_KEY" InstallDir 64)"; return 1; }
  installed_as_administrators_see_it "$VERSION"
}

# "Apps & features" shows one entry with the folder, and the event source
# names the installed program.
installed_as_administrators_see_it() {
  local products code location
  products=$(installed_products)
  [ "$(wc -l <<<"$products")" -eq 1 ] && [ "$(cut -d' ' -f2 <<<"$products")" = "$1" ] ||
    { echo "registered: '$products'"; return 1; }
  code=$(cut -d' ' -f1 <<<"$products")
  location=$(reg_value "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\$code" InstallLocation 64)
  [ "$location" = "$INSTALL_WIN\\" ] || { echo "InstallLocation: '$location'"; return 1; }
  [ "$(reg_value "$EVENT_KEY" EventMessageFile 64)" = "$INSTALL_WIN\\tolmar07.exe" ] ||
    { echo "EventMessageFile: '$(reg_value "$EVENT_KEY" EventMessageFile 64)'"; return 1; }
  wine_run reg query "$EVENT_KEY" /v TypesSupported /reg:64 &&
    tr -d '\r' <"$TMP/wine.out" | grep -qE 'TypesSupported[[:space:]]+REG_DWORD[[:space:]]+0x7$' ||
    { echo "TypesSupported: $(tr -d '\r' <"$TMP/wine.out")"; return 1; }
}

# A second build of the same version (a new product code) installs over the
# first: one entry, exit 0, the same folder.
check_same_version_reinstall() {
  local first
  first=$(cut -d' ' -f1 <<<"$(installed_products)")
  msiexec_run /i "$(winpath "$MSI1B")" || { echo "msiexec /i of the rebuild ended with $?"; return 1; }
  installed_as_administrators_see_it "$VERSION" || return 1
  [ "$(cut -d' ' -f1 <<<"$(installed_products)")" != "$first" ] || { echo "the rebuild kept the product code $first"; return 1; }
  cmp -s "$INSTALL_UNIX/tolmar07.exe" "$BUILD/windows/tolmar07.exe" || { echo "tolmar07.exe not in the folder"; return 1; }
}

# The installed program starts and shows its list of start parameters, and
# its file carries the version (the end-to-end tests, pointed at it).
check_installed_program_runs() {
  local e2e="$BUILD/windows/tests/e2e/e2e_tests.exe"
  TOLMAR_EXE="$INSTALL_WIN\\tolmar07.exe" wine_run "$e2e" \
    '--gtest_filter=StartUp.NoParameterShowsTheHelpAfterOneProgressMessageAndEndsOnOk:Version.*' ||
    { tr -d '\r' <"$TMP/wine.out" | grep -E 'Failure|FAILED|error' | head -n 5; return 1; }
  tr -d '\r' <"$TMP/wine.out" | grep -q '^\[  PASSED  \] 2 tests' || { echo "the two tests did not both run"; return 1; }
}

check_upgrade() {
  write_user_state || return 1
  # No INSTALLDIR: the upgrade finds the folder of the installation it replaces.
  msiexec_run /i "$(winpath "$MSI2")" || { echo "msiexec /i of $NEXT_VERSION ended with $?"; return 1; }
  local products
  products=$(installed_products)
  installed_as_administrators_see_it "$NEXT_VERSION" || return 1
  [ -f "$INSTALL_UNIX/tolmar07.exe" ] || { echo "the program left its folder"; return 1; }
  [ ! -e "$WINEPREFIX/drive_c/Program Files (x86)/Norvena/Norvena Suite/tolmar07.exe" ] || { echo "the upgrade went to the default folder"; return 1; }
  user_state_kept
}

check_downgrade_refused() {
  if msiexec_run /i "$(winpath "$MSI1")"; then echo "the older package installed over the newer"; return 1; fi
  [ "$(cut -d' ' -f2 <<<"$(installed_products)")" = "$NEXT_VERSION" ] || { echo "registered: $(installed_products)"; return 1; }
  [ -f "$INSTALL_UNIX/tolmar07.exe" ] || { echo "the program went"; return 1; }
}

check_uninstall() {
  msiexec_run /x "$(winpath "$MSI2")" || { echo "msiexec /x ended with $?"; return 1; }
  [ -z "$(installed_products)" ] || { echo "still registered: $(installed_products)"; return 1; }
  [ ! -e "$INSTALL_UNIX/tolmar07.exe" ] || { echo "tolmar07.exe is still there"; return 1; }
  [ ! -e "$INSTALL_UNIX/tolmar-nightly.xml" ] || { echo "tolmar-nightly.xml is still there"; return 1; }
  [ -z "$(reg_value "$RECORD_KEY" InstallDir 64)" ] || { echo "the folder record is still there"; return 1; }
  if wine_run reg query "$EVENT_KEY" /reg:64; then echo "the event source is still registered"; return 1; fi
  user_state_kept
}

# ---- signing ----------------------------------------------------------------------

export SIGN_PASSWORD='throwaway pass $word'
make_certificate() {
  mkdir -p "$TMP/cert"
  openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Tolmar test signer" \
    -addext "extendedKeyUsage=codeSigning" -keyout "$TMP/cert/key.pem" -out "$TMP/cert/cert.pem" >/dev/null 2>&1 &&
  openssl pkcs12 -export -inkey "$TMP/cert/key.pem" -in "$TMP/cert/cert.pem" -out "$TMP/cert/signer.pfx" \
    -passout env:SIGN_PASSWORD >/dev/null 2>&1
}

verify() { osslsigncode verify -in "$1" -CAfile "$TMP/cert/cert.pem" >"$TMP/verify.out" 2>&1; }

# Flips one byte in the middle of a file, away from its signature at the end.
tamper() {
  local size offset byte
  size=$(stat -c %s "$1")
  offset=$((size / 3))
  byte=$(od -An -tu1 -j "$offset" -N1 "$1" | tr -d ' ')
  printf "$(printf '\\%03o' $(((byte + 1) % 256)))" | dd of="$1" bs=1 seek="$offset" conv=notrunc status=none
}

check_sign_and_verify() {
  make_certificate || { echo "no test certificate"; return 1; }
  mkdir -p "$TMP/sign"
  cp "$BUILD/windows/tolmar07.exe" "$MSI1" "$TMP/sign/"
  local exe="$TMP/sign/tolmar07.exe" msi="$TMP/sign/$(basename "$MSI1")" out f
  if verify "$exe"; then echo "an unsigned program verified"; return 1; fi
  out=$(TOLMAR_SIGN_PFX="$TMP/cert/signer.pfx" TOLMAR_SIGN_PASSWORD="$SIGN_PASSWORD" "$ROOT/scripts/sign" "$exe" "$msi" 2>&1) ||
    { echo "scripts/sign failed: $out"; return 1; }
  if grep -qF "$SIGN_PASSWORD" <<<"$out"; then echo "the password was printed"; return 1; fi
  for f in "$exe" "$msi"; do
    verify "$f" || { echo "$(basename "$f") does not verify: $(tail -n 3 "$TMP/verify.out")"; return 1; }
    grep -q 'Tolmar test signer' "$TMP/verify.out" || { echo "$(basename "$f"): not our signer"; return 1; }
  done
  for f in "$exe" "$msi"; do
    tamper "$f"
    if verify "$f"; then echo "a tampered $(basename "$f") still verifies"; return 1; fi
  done
}

check_sign_refuses() {
  local exe="$TMP/sign/refused.exe" out
  cp "$BUILD/windows/tolmar07.exe" "$exe"
  out=$(TOLMAR_SIGN_PFX="$TMP/cert/signer.pfx" TOLMAR_SIGN_PASSWORD="wrong $SIGN_PASSWORD" "$ROOT/scripts/sign" "$exe" 2>&1) &&
    { echo "signed with a wrong password"; return 1; }
  if grep -qF "$SIGN_PASSWORD" <<<"$out"; then echo "the password was printed"; return 1; fi
  cmp -s "$exe" "$BUILD/windows/tolmar07.exe" || { echo "a failed signing changed the file"; return 1; }
  [ -z "$(ls "$TMP/sign" | grep signing)" ] || { echo "a partial output was left"; return 1; }
  out=$(env -u TOLMAR_SIGN_PFX "$ROOT/scripts/sign" "$exe" 2>&1) && { echo "signed without a PFX"; return 1; }
  grep -q TOLMAR_SIGN_PFX <<<"$out" || { echo "no word of the missing PFX: $out"; return 1; }
}

# scripts/package with a certificate: the program in the MSI and in the zip
# is signed, and so is the MSI.
check_package_signed() {
  local dist="$TMP/dist-signed" name="tolmar07-$VERSION"
  TOLMAR_DIST="$dist" TOLMAR_SIGN_PFX="$TMP/cert/signer.pfx" TOLMAR_SIGN_PASSWORD="$SIGN_PASSWORD" \
    "$ROOT/scripts/package" --no-build >"$TMP/package-signed.log" 2>&1 || { tail -n 5 "$TMP/package-signed.log"; return 1; }
  verify "$dist/$name.msi" || { echo "the MSI does not verify"; return 1; }
  mkdir -p "$TMP/signed-msi" "$TMP/signed-zip"
  (cd "$TMP/signed-msi" && msiextract "$dist/$name.msi" >/dev/null) || { echo "msiextract failed"; return 1; }
  verify "$(find "$TMP/signed-msi" -name tolmar07.exe | head -n1)" || { echo "the program in the MSI does not verify"; return 1; }
  unzip -q "$dist/$name.zip" -d "$TMP/signed-zip"
  verify "$TMP/signed-zip/$name/tolmar07.exe" || { echo "the program in the zip does not verify"; return 1; }
  (cd "$dist" && sha256sum --quiet -c SHA256SUMS) || { echo "SHA256SUMS do not match"; return 1; }
}

# ---- the MSI under a second version ------------------------------------------------

# The next version, and a rebuild of this one (wixl gives it a new product code).
make_next_package() {
  mkdir -p "$TMP/next" "$TMP/again"
  cp "$BUILD/windows/tolmar07.exe" "$TMP/next/"
  cp "$BUILD/windows/tolmar07.exe" "$TMP/again/"
  (cd "$TMP/next" && build_msi "$NEXT_VERSION" tolmar07.exe "$MSI2" >/dev/null 2>&1) &&
    (cd "$TMP/again" && build_msi "$VERSION" tolmar07.exe "$MSI1B" >/dev/null 2>&1)
}

left_over=$(installed_products)
if [ -n "$left_over" ]; then
  log "removing a Tolmar installation left by an earlier run: $left_over"
  remove_installation
fi

run_check package.ReleaseFilesAndSums check_package
run_check msi.PropertiesAndTables check_msi_properties
if make_next_package; then
  run_check msi.SilentInstallIntoChosenFolder check_install
  run_check msi.InstalledProgramRuns check_installed_program_runs
  run_check msi.SameVersionRebuildReplacesTheEntry check_same_version_reinstall
  run_check msi.UpgradeInPlaceKeepsIniFilesAndSettings check_upgrade
  run_check msi.OlderPackageRefused check_downgrade_refused
  run_check msi.UninstallLeavesIniFilesAndSettings check_uninstall
else
  FAILED=$((FAILED + 1))
  echo "FAIL msi: wixl could not build the $NEXT_VERSION package"
fi
run_check sign.SignsAndVerifiesTamperedFails check_sign_and_verify
run_check sign.RefusesWithoutPfxOrWrongPassword check_sign_refuses
run_check package.SignedWithACertificate check_package_signed

echo "$PASSED passed, $FAILED failed"
[ "$FAILED" -eq 0 ]
