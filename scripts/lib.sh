# Shared helpers of the project's scripts. Source it; do not run it.
# shellcheck shell=bash

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD="$ROOT/build"
export WINEPREFIX="${WINEPREFIX:-$BUILD/wineprefix}"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"

# Every Debian package the build, the tests and the demo need.
PACKAGES=(
  cmake g++ make pkg-config bc python3
  g++-mingw-w64-x86-64-posix mingw-w64-tools binutils-mingw-w64-x86-64
  g++-mingw-w64-i686-posix binutils-mingw-w64-i686
  wine wine64 xvfb xauth x11-utils
  googletest
  unixodbc unixodbc-dev odbcinst libsqliteodbc odbc-postgresql postgresql sqlite3
  libcpp-httplib-dev libpugixml-dev libssl-dev
  wixl msitools osslsigncode openssl zip clang lld
  chromium
)

log() { printf '== %s\n' "$*" >&2; }

ensure_packages() {
  local missing=()
  for p in "${PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  log "installing: ${missing[*]}"
  local sudo=""
  [ "$(id -u)" -eq 0 ] || sudo=sudo
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -qq
  $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

# Builds the native tree (portable core, its tests under ASan/UBSan, test
# tools), the Windows tree (tolmar07.exe and the tests that run it) and the
# 32-bit program (build/windows-x86/tolmar07.exe: compiled with warnings as
# errors, never run here, since these machines cannot run 32-bit code).
# Any step that fails fails the whole build: a test binary left from an
# earlier build must never be run in place of one that no longer compiles.
build_all() {
  local jobs
  jobs=$(nproc)
  cmake -S "$ROOT" -B "$BUILD/native" -DCMAKE_BUILD_TYPE=Debug >/dev/null &&
  cmake --build "$BUILD/native" -j "$jobs" &&
  cmake -S "$ROOT" -B "$BUILD/windows" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-w64-x86_64.cmake" >/dev/null &&
  cmake --build "$BUILD/windows" -j "$jobs" &&
  cmake -S "$ROOT" -B "$BUILD/windows-x86" -DCMAKE_BUILD_TYPE=Release -DTOLMAR_TESTS=OFF \
    -DCMAKE_CXX_FLAGS=-Werror -DCMAKE_C_FLAGS=-Werror \
    -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-w64-i686.cmake" >/dev/null &&
  cmake --build "$BUILD/windows-x86" -j "$jobs" --target tolmar07
}

# utf16_sample NAME: packaging/samples/NAME as Windows writes such files
# (UTF-16 little-endian with a byte-order mark, CR LF).
utf16_sample() {
  { printf '\xff\xfe'; sed 's/\r*$/\r/' "$ROOT/packaging/samples/$1" | iconv -f UTF-8 -t UTF-16LE; }
}

# build_msi VERSION PROGRAM OUT: the installer of PROGRAM (a path relative to
# the working folder, which wixl looks it up in) as product version VERSION.
# wixl cannot say two things the package needs, so they are set after it:
# the File table's version and language, read from the program's version
# resource (Windows compares versioned files by them, and a versioned file
# has no MsiFileHash row), and the upgrade row's VersionMaxInclusive (512),
# so that a rebuild of the same version replaces the installed one instead
# of becoming a second entry (the row is written anew: msibuild cannot update
# a row whose key holds an empty column). The sample scheduled task goes in
# beside the program, in UTF-16 as Task Scheduler writes tasks.
TOLMAR_UPGRADE_CODE='{0B2E3D47-10A6-4E02-81DE-2D35DF202573}'  # as packaging/tolmar07.wxs has it
build_msi() {
  local version=$1 program=$2 out=$3 fileinfo fileversion language
  utf16_sample tolmar-nightly.xml >tolmar-nightly.xml || return 1
  wixl -a x64 -D Version="$version" -D ProgramFile="$program" -D NightlyTask=tolmar-nightly.xml \
    -o "$out" "$ROOT/packaging/tolmar07.wxs" || return 1
  fileinfo=$(python3 "$ROOT/packaging/pe_version.py" "$program") || return 1
  read -r fileversion language <<<"$fileinfo"
  msibuild "$out" \
    -q "UPDATE \`File\` SET \`Version\` = '$fileversion', \`Language\` = '$language' WHERE \`File\` = 'tolmar07.exe'" \
    -q "DELETE FROM \`MsiFileHash\` WHERE \`File_\` = 'tolmar07.exe'" \
    -q "DELETE FROM \`Upgrade\` WHERE \`ActionProperty\` = 'WIX_UPGRADE_DETECTED'" \
    -q "INSERT INTO \`Upgrade\` (\`UpgradeCode\`, \`VersionMax\`, \`Attributes\`, \`ActionProperty\`) VALUES ('$TOLMAR_UPGRADE_CODE', '$version', 513, 'WIX_UPGRADE_DETECTED')"
}

# A virtual display for the Win32 windows, and one wineserver for the whole
# run so that each program start costs little.
XVFB_PID=""
start_display() {
  if [ -n "${DISPLAY:-}" ] && [ -z "${TOLMAR_OWN_DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
    return 0
  fi
  local fdfile
  fdfile=$(mktemp)
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$fdfile" 2>/dev/null &
  XVFB_PID=$!
  local i
  for i in $(seq 1 100); do
    [ -s "$fdfile" ] && break
    sleep 0.1
  done
  [ -s "$fdfile" ] || { log "Xvfb did not start"; return 1; }
  export DISPLAY=":$(head -n1 "$fdfile")"
  rm -f "$fdfile"
}

ensure_wineprefix() {
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    log "creating the Wine prefix $WINEPREFIX"
    mkdir -p "$WINEPREFIX"
    wineboot -i >/dev/null 2>&1 || true
    wineserver -w
  fi
  # No window manager runs on the virtual display: let Wine manage its own
  # windows, so closing one does not wait for a manager that never answers.
  if ! grep -q '"Managed"="N"' "$WINEPREFIX/user.reg" 2>/dev/null; then
    wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1 || true
    wineserver -w
  fi
}

start_wineserver() {
  wineserver -p >/dev/null 2>&1 || true
}

# Starts register-sim on a free loopback port with the given fixture (and
# further options) and exports TOLMAR_REGISTER_SIM (its base URL) for the tests.
SIM_PID=""
start_register_sim() {
  local fixture=$1 out
  shift
  out=$(mktemp)
  "$BUILD/native/sim/register-sim/register-sim" --port 0 --fixture "$fixture" "$@" >"$out" 2>&1 &
  SIM_PID=$!
  local i port=""
  for i in $(seq 1 100); do
    port=$(sed -n 's/^listening 127\.0\.0\.1:\([0-9][0-9]*\).*/\1/p' "$out" | head -n1)
    [ -n "$port" ] && break
    kill -0 "$SIM_PID" 2>/dev/null || break
    sleep 0.05
  done
  if [ -z "$port" ]; then
    log "register-sim did not start:"
    cat "$out" >&2
    rm -f "$out"
    return 1
  fi
  rm -f "$out"
  export TOLMAR_REGISTER_SIM="http://127.0.0.1:$port"
}

. "$ROOT/scripts/postgres.sh"

stop_session() {
  stop_postgres 2>/dev/null || true
  if [ -n "$SIM_PID" ]; then kill "$SIM_PID" 2>/dev/null || true; fi
  wineserver -k >/dev/null 2>&1 || true
  if [ -n "$XVFB_PID" ]; then kill "$XVFB_PID" 2>/dev/null || true; fi
}
