# Sourced by the demo and screenshot scripts: starts krvo-sim on free
# loopback ports with its DataLog tree in $1/meter, stops it at exit, and
# sets sim_line, modbus and ftp.
start_sim() {
  local work=$1
  local fifo="$work/sim.out"
  mkfifo "$fifo"
  build/krvo-sim --data-root "$work/meter" >"$fifo" &
  sim_pid=$!
  trap 'kill $sim_pid 2>/dev/null; wait $sim_pid 2>/dev/null; rm -f "'"$fifo"'"' EXIT
  read -r sim_line <"$fifo"
  modbus=$(sed -n 's/.* modbus \([0-9]*\).*/\1/p' <<<"$sim_line")
  ftp=$(sed -n 's/.* ftp \([0-9]*\).*/\1/p' <<<"$sim_line")
}
