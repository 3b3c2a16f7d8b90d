#!/usr/bin/env bash
# Installs what is needed, builds, starts the bundled meter simulator on a free
# loopback port and runs the main job against it.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
scripts/build.sh

data=$(mktemp -d /tmp/krvo-demo-XXXXXX)
fifo="$data/sim.out"
mkfifo "$fifo"
build/krvo-sim --port 0 >"$fifo" &
sim=$!
trap 'kill $sim 2>/dev/null; wait $sim 2>/dev/null; rm -f "$fifo"' EXIT
read -r line <"$fifo"
echo "$line"
port=$(sed -n 's/.* modbus \([0-9]*\).*/\1/p' <<<"$line")

echo "== krvo info --host 127.0.0.1 --port $port"
build/krvo info --host 127.0.0.1 --port "$port" --data-dir "$data"
