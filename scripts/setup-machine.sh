#!/usr/bin/env bash
# Installs what building, running and testing Vantrel needs, where missing.
set -euo pipefail

# libgammu-dev: a second, independent decoder of the SMS PDUs in the tests.
# fonts-wine: a free font with Tahoma's metrics, for which the windows are laid
# out. xvfb, xdotool, openbox, imagemagick: the demo and the screenshots run
# headless.
packages=(cmake g++ make pkg-config qt6-base-dev qt6-serialport-dev libqt6sql6-sqlite libgammu-dev
    fonts-wine xvfb xauth xdotool openbox imagemagick)
# kannel, kannel-extras (fakesmsc): the gateway the Kannel tests and the
# gateway demo start on loopback, with a configuration and ports of their own.
kannel_packages=(kannel kannel-extras)

missing_of() {
    local package
    for package in "$@"; do
        dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || echo "$package"
    done
}
mapfile -t missing < <(missing_of "${packages[@]}")
mapfile -t kannel_missing < <(missing_of "${kannel_packages[@]}")
if [ ${#missing[@]} -gt 0 ] || [ ${#kannel_missing[@]} -gt 0 ]; then
    apt-get update -qq
fi
if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null
fi
if [ ${#kannel_missing[@]} -gt 0 ]; then
    echo "Installing: ${kannel_missing[*]}"
    # kannel's postinst starts the package's own service, which in a container
    # without an init system can fail the install; the tests never use it. So
    # where no policy says otherwise, services are held back for this install.
    held=
    if [ ! -e /usr/sbin/policy-rc.d ]; then
        printf '#!/bin/sh\nexit 101\n' >/usr/sbin/policy-rc.d
        chmod 755 /usr/sbin/policy-rc.d
        held=1
        trap 'rm -f /usr/sbin/policy-rc.d' EXIT
    fi
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${kannel_missing[@]}" >/dev/null
    if [ -n "$held" ]; then
        rm -f /usr/sbin/policy-rc.d
        trap - EXIT
    fi
fi
