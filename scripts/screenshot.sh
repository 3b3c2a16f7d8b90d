#!/usr/bin/env bash
# Takes a screenshot of the window connected to the bundled simulator, its
# groups downloaded and Group 01 shown, under Xvfb:
# scripts/screenshot.sh [OUT.png] (default docs/window.png).
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
  build/KRVOLogViewer --demo &
  app=$!
  for _ in $(seq 50); do
    win=$(xdotool search --name "^KRVO Log Viewer_V1.0.1.12$" 2>/dev/null | head -n 1) && [ -n "$win" ] && break
    sleep 0.2
  done
  # The download ends with its message box: answer it, as the operator would.
  for _ in $(seq 100); do
    box=$(xdotool search --onlyvisible --name "^KRVO$" 2>/dev/null | head -n 1) && [ -n "$box" ] && break
    sleep 0.2
  done
  [ -n "${box:-}" ] && xdotool windowfocus --sync "$box" key Return
  sleep 1
  import -window "$win" "$out"
  kill $app
'
echo "screenshot: $out"
