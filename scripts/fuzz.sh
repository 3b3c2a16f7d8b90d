#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (ASan and UBSan on) and runs each
# for SECONDS (default 60): scripts/fuzz.sh [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
scripts/setup.sh
command -v clang++ >/dev/null || { echo "fuzz: clang++ is needed (apt-get install clang libclang-rt-14-dev)" >&2; exit 1; }
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DKRVO_FUZZ=ON -DKRVO_SANITIZE=ON \
  -DKRVO_BUILD_GUI=OFF -DKRVO_BUILD_TESTS=OFF -DKRVO_BUILD_BENCH=OFF -DCMAKE_BUILD_TYPE=Debug >/dev/null
cmake --build build-fuzz --target fuzz_ftp_replies fuzz_modbus_reply fuzz_files
for t in fuzz_ftp_replies fuzz_modbus_reply fuzz_files; do
  mkdir -p "build-fuzz/corpus/$t"
  echo "== $t ($seconds s)"
  "build-fuzz/fuzz/$t" -max_total_time="$seconds" -max_len=4096 "build-fuzz/corpus/$t"
done
