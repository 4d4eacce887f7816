#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the programs need.
# Idempotent: asks apt only for what is missing.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-base-dev-tools libgl-dev
  libjsoncpp-dev
  libgtest-dev libgmock-dev
  fonts-dejavu-core fonts-liberation2 fonts-wqy-microhei
  qt6-translations-l10n
  iproute2
  clang
  adb
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "Installing: ${missing[*]}"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then
  SUDO="sudo"
fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -q
$SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
