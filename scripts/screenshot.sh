#!/usr/bin/env bash
# Takes a screenshot of the window connected to the bundled simulator, under
# Xvfb: scripts/screenshot.sh [OUT.png] (default docs/window.png).
set -euo pipefail
cd "$(dirname "$0")/.."
out=${1:-docs/window.png}

scripts/setup.sh --screenshot
scripts/build.sh

. scripts/sim-lib.sh
work=$(mktemp -d /tmp/krvo-shot-XXXXXX)
start_sim "$work"
mkdir -p "$work/data" "$(dirname "$out")"
printf '[ConnectPara]\nIP=127.0.0.1\nMODBUSTCPPort=%s\nFTPPort=%s\nFilePauseMs=50\n' "$modbus" "$ftp" \
  >"$work/data/CommSet.ini"

KRVO_DATA_DIR="$work/data" out="$out" xvfb-run -a -s "-screen 0 1024x700x24" bash -c '
  build/KRVOLogViewer &
  app=$!
  for _ in $(seq 50); do
    win=$(xdotool search --name "^KRVO Log Viewer_V1.0.1.12$" 2>/dev/null | head -n 1) && [ -n "$win" ] && break
    sleep 0.2
  done
  sleep 1
  # The Connect button: 8, 59, 75 x 25 in the client area.
  xdotool mousemove --window "$win" 45 71 click 1
  sleep 3
  import -window root -crop 896x581+0+0 +repage "$out"
  kill $app
'
echo "screenshot: $out"
