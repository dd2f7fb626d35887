#!/usr/bin/env bash
# Installs what building, running and testing Vantrel needs, where missing.
set -euo pipefail

# libgammu-dev: a second, independent decoder of the SMS PDUs in the tests.
# fonts-wine: a free font with Tahoma's metrics, for which the windows are laid
# out. xvfb, xdotool, openbox, imagemagick: the demo and the screenshots run
# headless.
packages=(cmake g++ make pkg-config qt6-base-dev qt6-serialport-dev libqt6sql6-sqlite libgammu-dev fonts-wine
    xvfb xauth xdotool openbox imagemagick)
missing=()
for package in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null
fi
