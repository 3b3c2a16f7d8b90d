#!/usr/bin/env bash
# Installs what is needed, builds, and runs every test. Pass --sanitize to run
# them under AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
# The sources keep one layout: a file that differs from .clang-format fails the run.
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  git ls-files -z '*.cpp' '*.h' | xargs -0 clang-format --dry-run -Werror
fi
scripts/build.sh "$@"
dir=build
[ "${1:-}" = "--sanitize" ] && dir=build-asan
cd "$dir"
export LC_ALL=C
exec ctest --output-on-failure -j 2 --timeout 300
