#!/usr/bin/env bash
# Starts a simulated player on loopback and opens veluna connected to it;
# closing veluna stops the simulated player.
set -euo pipefail
bin="${1:-build/bin}"
port="${VELUNA_RUN_PORT:-5005}"
mac="A1B2C3D4E5F6"
home="${VELUNA_HOME:-$PWD/build/home}"
mkdir -p "$home"

"$bin/player-sim" --address 127.0.0.1 --port "$port" --mac "$mac" &
sim=$!
trap 'kill $sim 2>/dev/null || true; wait $sim 2>/dev/null || true' EXIT
sleep 0.5

if [ -x "$bin/veluna" ] && "$bin/veluna" --version >/dev/null 2>&1; then
  VELUNA_HOME="$home" "$bin/veluna" "-127.0.0.1" "-$port" "-$mac"
else
  echo "veluna is not built yet; the simulated player runs on 127.0.0.1:$port (Ctrl+C stops it)"
  wait $sim
fi
