# Shared steps of scripts/run and scripts/test: install what is missing, build, prepare Wine.
# Sourced, not run.

# The checkout and the build by their physical paths, however they were reached (through a
# symlink, a relative TARNWICK_BUILD); see configure_and_build.
TARNWICK_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd -P)
BUILD_ROOT=$(realpath -m "${TARNWICK_BUILD:-$TARNWICK_ROOT/build}")
BUILD64=$BUILD_ROOT/x64
BUILD32=$BUILD_ROOT/x86
export WINEPREFIX=$BUILD_ROOT/wineprefix
export WINEDEBUG=-all
# The shell's delete moves things into the desktop's trash, and shortcuts become desktop menu
# entries: both go under XDG_DATA_HOME, which is kept inside the prefix so that nothing a run
# deletes or installs lands in the host's own folders.
export XDG_DATA_HOME=$WINEPREFIX/drive_c/desktop-data
# No Mono or Gecko download prompts in a fresh prefix.
export WINEDLLOVERRIDES="mscoree,mshtml="
source "$TARNWICK_ROOT/scripts/wine-loader.sh"

PACKAGES=(cmake ninja-build g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix mingw-w64-tools
          wine wine64 wine32:i386 xvfb xauth imagemagick googletest python3 nsis clang-format)

log() { printf '== %s\n' "$*" >&2; }

# The C++ sources laid out as the repository's .clang-format says; the files that are not, listed.
check_format() {
  local files
  files=$(cd "$TARNWICK_ROOT" && git ls-files '*.cpp' '*.h')
  if ! (cd "$TARNWICK_ROOT" && clang-format --dry-run --Werror $files); then
    log "the files above are not laid out as .clang-format says: run clang-format -i on them"
    return 1
  fi
}

no_32bit_reason() {
  if no_32bit_asked; then
    echo "32-bit programs are not started (TARNWICK_NO_32BIT=$TARNWICK_NO_32BIT)"
  else
    echo "32-bit programs do not run here ($WINE32_LOADER cannot start)"
  fi
}

# Whether 32-bit programs run is found out once, after wine32 is installed, by the first script
# of a run; it says so in one line, and what it starts inherits the answer.
know_the_machine() {
  choose_wine_loader || return 0
  if [ "$TARNWICK_32BIT" = 1 ]; then
    log "32-bit programs run here; Wine starts through $TARNWICK_WINE"
  else
    log "$(no_32bit_reason): Wine starts through $TARNWICK_WINE, and tests that start a 32-bit program are skipped"
  fi
}

missing_packages() {
  local p
  for p in "${PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || echo "$p"
  done
}

ensure_packages() {
  install_missing_packages
  know_the_machine
}

install_missing_packages() {
  local missing
  missing=$(missing_packages)
  [ -z "$missing" ] && return 0
  log "installing: $(echo $missing)"
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
  fi
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends $missing >/dev/null
  # wine32 comes as a recommendation of wine, which --no-install-recommends leaves out.
  missing=$(missing_packages)
  if [ -n "$missing" ]; then
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq $missing >/dev/null
  fi
}

# Configures every time, so that a changed option takes effect; an unchanged tree costs a second.
# CMake writes every path as the current folder was reached (through a symlink it follows
# PWD), and a path spelled otherwise changes every compile command: so that no command
# rebuilds what another built, both steps run from the checkout's physical path.
configure_and_build() {
  local dir=$1 toolchain=$2; shift 2
  (
    cd "$TARNWICK_ROOT"
    cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release \
      -DCMAKE_TOOLCHAIN_FILE="$TARNWICK_ROOT/cmake/$toolchain" "$@" >/dev/null
    cmake --build "$dir" -j "$(nproc)"
  )
}

# The 32-bit tree builds only the setup launcher; the 64-bit tree holds every test,
# including those that run the 32-bit programs from TARNWICK_X86_BIN_DIR.
build_all() {
  log "building 32-bit"
  configure_and_build "$BUILD32" toolchain-x86.cmake
  log "building 64-bit"
  configure_and_build "$BUILD64" toolchain-x64.cmake -DTARNWICK_X86_BIN_DIR="$BUILD32/bin"
}

# The prefix must be made after wine32 is installed, or 32-bit programs cannot start in it.
# Either loader makes the same 64-bit prefix where they run, so both ways of starting Wine
# share it; only one made where 32-bit programs could not start lacks its 32-bit half, and is
# made again once they can (a build folder carried over from such a machine).
PREFIX_WITHOUT_32BIT=made-without-32-bit

make_prefix() {
  log "creating Wine prefix $WINEPREFIX"
  mkdir -p "$WINEPREFIX"
  "$TARNWICK_WINE" wineboot -i >/dev/null 2>&1 || true
  wineserver -w
  if ! "$WINE32_LOADER" --version >/dev/null 2>&1; then
    touch "$WINEPREFIX/$PREFIX_WITHOUT_32BIT"
  fi
}

drop_prefix_without_32bit() {
  if [ "$TARNWICK_32BIT" = 1 ] && [ -f "$WINEPREFIX/$PREFIX_WITHOUT_32BIT" ]; then
    log "the Wine prefix was made where 32-bit programs could not start"
    wineserver -k 2>/dev/null || true
    rm -rf "$WINEPREFIX"
  fi
}

# Its windows live on a virtual desktop: without a window manager, destroying a visible
# top-level window otherwise stalls for two seconds, and screenshots lack frames.
ensure_prefix() {
  know_the_machine
  drop_prefix_without_32bit
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    make_prefix
  fi
  if ! grep -q '"Default"="1280x1024"' "$WINEPREFIX/user.reg" 2>/dev/null; then
    "$TARNWICK_WINE" reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null 2>&1
    "$TARNWICK_WINE" reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1280x1024 /f >/dev/null 2>&1
    wineserver -w
  fi
  mkdir -p "$XDG_DATA_HOME"
  # The first program under a new server also brings up the desktop; one that starts in
  # the middle of that can fail to start, so let a trivial one go first.
  "$TARNWICK_WINE" cmd.exe /c exit 0 >/dev/null 2>&1 || true
}
