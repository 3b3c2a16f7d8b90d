#!/usr/bin/env bash
# Installs what is needed, builds, starts the bundled meter simulator on free
# loopback ports and runs the main job against it: connect, download every
# group, build the workbook, and save a copy of it.
set -euo pipefail
cd "$(dirname "$0")/.."

log=/tmp/krvo-demo-build.log
echo "Installing what is needed and building (log: $log)..."
if ! { scripts/setup.sh && scripts/build.sh; } >"$log" 2>&1; then
  tail -n 30 "$log" >&2
  echo "demo: set-up or build failed; the whole log is $log" >&2
  exit 1
fi

. scripts/sim-lib.sh
work=$(mktemp -d /tmp/krvo-demo-XXXXXX)
data="$work/data"
start_sim "$work"
echo "$sim_line"
krvo=build/krvo

if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  # With a display: the window connects, downloads every group and shows the first.
  mkdir -p "$data"
  printf '[ConnectPara]\nIP=127.0.0.1\nMODBUSTCPPort=%s\nFTPPort=%s\nFilePauseMs=100\n' "$modbus" "$ftp" \
    >"$data/CommSet.ini"
  echo "Opening the window: it connects, downloads all groups and shows Group 01. Data folder: $data"
  KRVO_DATA_DIR="$data" build/KRVOLogViewer --demo
  exit 0
fi

echo; echo "== krvo info"
$krvo info --host 127.0.0.1 --port "$modbus" --data-dir "$data"
echo; echo "== krvo download (every group, then the workbook)"
$krvo download --host 127.0.0.1 --port "$modbus" --ftp-port "$ftp" --data-dir "$data" --pace-ms 100 \
  | tee "$work/download"
datalog=$(dirname "$(tail -n 1 "$work/download")")
echo; echo "== krvo show (Group 01, newest first, first lines)"
$krvo show "$datalog" --group 1 --sort newest | head -n 6 | cut -c1-160
echo; echo "== krvo export -o (the workbook saved as an operator's copy)"
saved="$work/KRVO-demo.xlsx"
$krvo export "$datalog" -o "$saved" --data-dir "$data" 2>/dev/null | tail -n 1 >/dev/null
echo "Saved workbook: $saved"
