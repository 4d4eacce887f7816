#!/usr/bin/env bash
# Starts simulated players on loopback and opens veluna connected to the
# first; closing veluna stops them. PLAYERS=n (1..9) starts n players on
# 127.0.0.2, 127.0.0.3 ... instead of one on 127.0.0.1; every player answers
# the scan dialog (Player Connection Settings), which lists loopback here.
# Each player also serves its picture gallery (HTTP port 23333 of its
# address) and reports PLAYER_VERSION (default 0x1500: System Setup opens
# the warp wizard; 0x1501 opens the rotation editor).
# PROGRAM=Tollivar opens the companion program instead; it finds the players
# with its own scan (each feature button scans first).
set -euo pipefail
bin="${1:-build/bin}"
port="${VELUNA_RUN_PORT:-5005}"
players="${PLAYERS:-1}"
version="${PLAYER_VERSION:-0x1500}"
home="${VELUNA_HOME:-$PWD/build/home}"
program="${PROGRAM:-veluna}"

# Qt aborts without a display, and veluna refuses a screen under 1366 x 768
# at 96 dpi behind a message box: say what works instead, before anything
# is built (`make run` calls this first with --check-display).
headless="Headless, use one of:
  QT_QPA_PLATFORM=offscreen:configfile=tests/support/screen-1920x1080.json make run   (nothing is shown)
  xvfb-run -a -s \"-screen 0 1920x1080x24\" make run                                 (apt-get install xvfb)"
if [ -z "${QT_QPA_PLATFORM:-}" ] && [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "$program needs a graphical session with a screen of at least 1366 x 768 at 96 dpi, and there is none here" \
       "(no DISPLAY or WAYLAND_DISPLAY). $headless" >&2
  exit 1
fi
# Qt's offscreen screen is 800 x 600 unless a screen file says otherwise.
case "${QT_QPA_PLATFORM:-}" in
  offscreen*configfile=*) ;;
  offscreen*)
    echo "QT_QPA_PLATFORM=offscreen alone gives an 800 x 600 screen, below the 1366 x 768 that $program needs. $headless" >&2
    exit 1 ;;
esac
if [ "$bin" = "--check-display" ]; then
  exit 0
fi
mkdir -p "$home"

pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  for p in "${pids[@]}"; do wait "$p" 2>/dev/null || true; done
}
trap cleanup EXIT

first=""
for i in $(seq 1 "$players"); do
  if [ "$players" -eq 1 ]; then address=127.0.0.1; else address="127.0.0.$((i + 1))"; fi
  mac=$(printf 'A1B2C3D4E5%02X' "$i")
  "$bin/player-sim" --address "$address" --port "$port" --mac "$mac" --id "$(printf 'SIM%09d' "$i")" \
    --version "$version" --udp --gallery &
  pids+=($!)
  [ -n "$first" ] || first="$address $mac"
done
sleep 0.5

set -- $first
if [ "$program" = "Tollivar" ]; then
  temp="$home/Tollivar/Temp"
else
  temp="$home/Temp"
fi
# The program deletes its Temp folder as it closes. Ctrl+C under xvfb-run
# also reaches the virtual display, which may end before the program has
# closed; the program then dies with its display and leaves Temp behind.
# Only a Temp this run's program made is removed: one that was there before
# may belong to a program still running on the same home.
temp_before=0
[ -e "$temp" ] && temp_before=1
interrupted=0
trap 'interrupted=1' INT
status=0
if [ "$program" = "Tollivar" ]; then
  echo "Tollivar scans for the simulated players on loopback (port $port)"
  VELUNA_HOME="$home" VELUNA_SCAN_LOOPBACK=1 "$bin/Tollivar" || status=$?
else
  echo "veluna connects to the simulated player at $1:$port (version $version, gallery on http port 23333)"
  VELUNA_HOME="$home" VELUNA_SCAN_LOOPBACK=1 "$bin/veluna" "-$1" "-$port" "-$2" || status=$?
fi
if [ "$status" -ne 0 ] && [ "$temp_before" -eq 0 ] && [ -e "$temp" ]; then
  rm -rf "$temp"
  echo "$program did not close in order (exit status $status; under xvfb-run its display may have ended first): removed the Temp folder it left, $temp" >&2
fi
# Interrupted: the program's end was asked for, whichever way it came.
if [ "$interrupted" -eq 1 ]; then
  exit 0
fi
exit "$status"
