# Sourced by the scripts that run Windows programs. Decides which Windows build this host runs
# and sets up Wine for it:
#   TACTRA_WINE_ARCH  32 or 64: the build whose programs run here (forced when set beforehand)
#   TACTRA_WIN_TREE   build/win32 or build/win64 (relative to the repository)
#   WINE              the Wine loader for that build
#   TACTRA_VFRAME_PREFIX  the prefix with the virtual frame's driver (scripts/vframe)
#   WINEARCH, WINEPREFIX, WINELOADER, WINESERVER for Wine itself
# Hosts whose kernel cannot execute 32-bit x86 programs run the 64-bit build under Wine's
# 64-bit loader; every other host runs the 32-bit build that ships.

wine32_loader=/usr/lib/wine/wine
wine64_loader=/usr/lib/wine/wine64
[ -x "$wine64_loader" ] || wine64_loader=$(command -v wine64 || echo /usr/lib/wine/wine64)

# A real try: the 32-bit loader itself must start. Where the kernel lacks 32-bit support this
# fails with "Exec format error", whatever the machine's architecture is called.
tactra_host_runs_32bit() {
  [ -x "$wine32_loader" ] && "$wine32_loader" --version >/dev/null 2>&1
}

tactra_wine_setup() {
  local top=$1
  case "${TACTRA_WINE_ARCH:-}" in
    32 | 64) ;;
    "") if tactra_host_runs_32bit; then TACTRA_WINE_ARCH=32; else TACTRA_WINE_ARCH=64; fi ;;
    *)
      echo "TACTRA_WINE_ARCH must be 32 or 64, not '$TACTRA_WINE_ARCH'" >&2
      return 2
      ;;
  esac
  if [ "$TACTRA_WINE_ARCH" = 32 ]; then
    TACTRA_WIN_TREE=build/win32
    WINE=$wine32_loader
    WINEARCH=win32
  else
    TACTRA_WIN_TREE=build/win64
    WINE=$wine64_loader
    WINEARCH=win64
  fi
  WINELOADER=$WINE
  # One server serves both kinds of prefix; prefer the 64-bit one, which runs on every host.
  for s in /usr/lib/wine/wineserver64 /usr/lib/wine/wineserver32; do
    if [ -x "$s" ]; then
      WINESERVER=$s
      break
    fi
  done
  # A lane of the suite (TACTRA_LANE=N) runs beside the others with prefixes of its own: one
  # Wine server each, so that no lane's programs see another's windows or wait on its server.
  local lane=${TACTRA_LANE:+-lane$TACTRA_LANE}
  WINEPREFIX=${WINEPREFIX:-$top/$TACTRA_WIN_TREE/wineprefix$lane}
  TACTRA_VFRAME_PREFIX=${TACTRA_VFRAME_PREFIX:-$top/$TACTRA_WIN_TREE/vframe-prefix$lane}
  export TACTRA_WINE_ARCH TACTRA_WIN_TREE TACTRA_VFRAME_PREFIX WINE WINEARCH WINELOADER WINEPREFIX
  [ -n "${WINESERVER:-}" ] && export WINESERVER
  return 0
}

# The architecture of an existing prefix ("win32", "win64", or "" when it has none yet).
tactra_prefix_arch() {
  [ -f "$1/system.reg" ] || return 0
  sed -n 's/^#arch=//p;/^#arch=/q' "$1/system.reg"
}

# The headless displays: Xvfb on :99, which with-wine starts when no display is set, and one for
# each lane of the suite (:100 + N). Kept for the calls that follow; a script that runs many of
# them (the demo, the suite) ends them afterwards if they were not there before:
# tactra_headless_up first, tactra_headless_stop at the end. Each takes the display's number
# (99 when none is given).
tactra_headless_pidfile() { echo "/tmp/.tactra-xvfb-${1:-99}.pid"; }

tactra_headless_up() { xdpyinfo -display ":${1:-99}" >/dev/null 2>&1; }

tactra_headless_start() {
  local n=${1:-99}
  tactra_headless_up "$n" && return 0
  # A server that died leaves its lock behind and would keep a new one from starting.
  rm -f "/tmp/.X$n-lock" "/tmp/.X11-unix/X$n"
  (
    Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
    echo $! >"$(tactra_headless_pidfile "$n")"
  )
  for _ in $(seq 100); do tactra_headless_up "$n" && break; sleep 0.1; done
}

# Ends the Wine processes of the tree's prefixes (they hold the display), then the display.
tactra_headless_stop() {
  local n=${1:-99} pidfile
  pidfile=$(tactra_headless_pidfile "$n")
  [ -f "$pidfile" ] || return 0
  local prefix
  for prefix in "${WINEPREFIX:-}" "${TACTRA_VFRAME_PREFIX:-}"; do
    [ -n "$prefix" ] && [ -n "${WINESERVER:-}" ] && WINEPREFIX=$prefix "$WINESERVER" -k 2>/dev/null || true
  done
  kill "$(cat "$pidfile")" 2>/dev/null || true
  rm -f "$pidfile"
}
