# Chooses the Wine loader that starts our Windows programs; sourced by lib.sh and wine-run.
#
# Some machines' kernels run no 32-bit Linux program at all ("Exec format error"), and Debian's
# wine wrapper, which prefers the 32-bit loader once wine32 is installed, then fails before any
# Windows code runs. Wine's 64-bit loader still starts 64-bit programs there, in a 64-bit prefix.
# TARNWICK_NO_32BIT=1 takes that path on any machine.

WINE32_LOADER=/usr/lib/wine/wine

no_32bit_asked() {
  case ${TARNWICK_NO_32BIT:-0} in
    0|'') return 1 ;;
  esac
}

# Exports TARNWICK_WINE, the loader, and TARNWICK_32BIT: 1 where 32-bit programs are started,
# 0 where they are not (the test programs read it to skip the tests that must start one).
# Decided once: the scripts and programs started below inherit the choice; returns 1 when it
# was made already.
choose_wine_loader() {
  [ -z "${TARNWICK_WINE:-}" ] || [ -z "${TARNWICK_32BIT:-}" ] || return 1
  if ! no_32bit_asked && "$WINE32_LOADER" --version >/dev/null 2>&1; then
    export TARNWICK_32BIT=1 TARNWICK_WINE=wine
  else
    export TARNWICK_32BIT=0 TARNWICK_WINE=${WINELOADER:-/usr/lib/wine/wine64}
  fi
}
