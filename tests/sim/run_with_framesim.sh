#!/bin/sh
# Starts a simulator on a free loopback port, runs one command with TACTRA_FRAME_SIM pointing
# at it, and stops the simulator again. Usage: run_with_framesim.sh SIMULATOR COMMAND...
# SIMULATOR is the native tactra-framesim, or a .exe that is started through Wine ($WINE).
set -u
sim=$1
shift
if [ ! -e "$sim" ]; then
  echo "no simulator at $sim (build the native tree first: scripts/build native)" >&2
  exit 1
fi
log=$(mktemp)
case "$sim" in
  *.exe) "${WINE:-wine}" "$sim" serve --port 0 >"$log" 2>&1 & ;;
  *) "$sim" serve --port 0 >"$log" 2>&1 & ;;
esac
pid=$!
port=
for _ in $(seq 300); do
  port=$(sed -n 's/.*serving on 127\.0\.0\.1:\([0-9]*\).*/\1/p' "$log" | head -n 1)
  [ -n "$port" ] && break
  sleep 0.1
done
if [ -z "$port" ]; then
  echo "the simulator did not start:" >&2
  cat "$log" >&2
  kill "$pid" 2>/dev/null
  rm -f "$log"
  exit 1
fi
TACTRA_FRAME_SIM=127.0.0.1:$port "$@"
status=$?
kill "$pid" 2>/dev/null
wait "$pid" 2>/dev/null
rm -f "$log"
exit $status
