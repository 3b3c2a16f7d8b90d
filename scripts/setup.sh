#!/usr/bin/env bash
# Installs the Debian 12 packages that the build, the tests and the demo need.
set -euo pipefail

PACKAGES=(
  build-essential cmake ninja-build pkg-config dpkg-dev file systemd
  libmodbus-dev nlohmann-json3-dev qt6-base-dev qt6-charts-dev libqt6opengl6-dev qt6-svg-dev libxlsxwriter-dev libzip-dev
  libpugixml-dev
  zlib1g-dev libgtest-dev libbenchmark-dev libsqlite3-dev libpq-dev
  sqlite3 postgresql-15 postgresql-client-15
  python3 python3-pyftpdlib python3-numpy python3-openpyxl python3-pandas curl wget
  help2man lintian man-db bash-completion clang-format
)
# scripts/setup.sh --screenshot: what the screenshot script needs besides.
if [ "${1:-}" = "--screenshot" ]; then
  PACKAGES+=(xvfb xauth xdotool imagemagick)
fi

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

SUDO=()
if [ "$(id -u)" -ne 0 ]; then
  command -v sudo >/dev/null || { echo "setup: run as root to install: ${missing[*]}" >&2; exit 1; }
  SUDO=(sudo)
fi
echo "setup: installing ${missing[*]}" >&2
export DEBIAN_FRONTEND=noninteractive
"${SUDO[@]}" apt-get update -q
"${SUDO[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
