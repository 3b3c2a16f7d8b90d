#!/usr/bin/env bash
# Installs what is needed, builds, starts the bundled meter simulator on free
# loopback ports and runs the main job against it.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
scripts/build.sh

. scripts/sim-lib.sh
work=$(mktemp -d /tmp/krvo-demo-XXXXXX)
data="$work/data"
start_sim "$work"
echo "$sim_line"
krvo=build/krvo

if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  # With a display: the window, its CommSet.ini pointing at the simulator.
  mkdir -p "$data"
  printf '[ConnectPara]\nIP=127.0.0.1\nMODBUSTCPPort=%s\nFTPPort=%s\n' "$modbus" "$ftp" >"$data/CommSet.ini"
  echo "Opening the window; press Connect. Data folder: $data"
  KRVO_DATA_DIR="$data" build/KRVOLogViewer
  exit 0
fi

echo; echo "== krvo info"
$krvo info --host 127.0.0.1 --port "$modbus" --data-dir "$data"
echo; echo "== krvo setup"
setup=$($krvo setup --host 127.0.0.1 --port "$modbus" --data-dir "$data")
echo "$setup"
datalog=$(dirname "$setup")
echo; echo "== krvo ls /DataLog/Group1"
$krvo ls --host 127.0.0.1 --ftp-port "$ftp" /DataLog/Group1 | tee "$work/list"
mkdir -p "$datalog/Group1"
cut -f3 "$work/list" | while IFS= read -r name; do
  $krvo get --host 127.0.0.1 --ftp-port "$ftp" "/DataLog/Group1/$name" "$datalog/Group1/$name"
done
echo; echo "== krvo show (Group 01, newest first, first lines)"
$krvo show "$datalog" --group 1 --sort newest | head -n 6 | cut -c1-160
echo; echo "Data folder: $data"
