#!/usr/bin/env bash
# Installs every Debian package the build, the app and the tests use. Skips apt entirely when
# all of them are already present, so repeated runs are fast and need no network.
set -euo pipefail

PACKAGES=(
  build-essential cmake ninja-build pkg-config
  libnanopb-dev nanopb zlib1g-dev libsqlite3-dev libcurl4-openssl-dev libssl-dev
  libplist-dev nlohmann-json3-dev libicu-dev
  libcairo2-dev libpango1.0-dev libsdl2-dev libmpg123-dev
  libgtest-dev libgmock-dev libbenchmark-dev libcpp-httplib-dev
  fonts-dejavu-core xdg-utils
  clang libclang-rt-dev
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update && $SUDO apt-get install -y --no-install-recommends "${PACKAGES[@]}"
