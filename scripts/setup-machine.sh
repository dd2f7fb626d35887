#!/usr/bin/env bash
# Installs what building, running and testing Vantrel needs, where missing.
set -euo pipefail

packages=(cmake g++ make pkg-config qt6-base-dev qt6-serialport-dev libqt6sql6-sqlite xvfb xauth xdotool libgammu-dev)
missing=()
for package in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null
fi
