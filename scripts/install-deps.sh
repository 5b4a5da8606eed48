#!/usr/bin/env bash
# Installs the Debian packages the project needs, only when one is missing.
set -euo pipefail

packages=(
    build-essential cmake ninja-build pkg-config
    qt6-base-dev qt6-base-dev-tools qt6-qpa-plugins qt6-translations-l10n
    qcoro-qt6-dev
    libbenchmark-dev
    dbus dbus-daemon fonts-noto-cjk
    wrk python3
    # packaging: validators for the desktop entry and metainfo, dpkg-shlibdeps,
    # systemd-analyze and systemd-socket-activate for the backend's user units
    desktop-file-utils appstream dpkg-dev file systemd
    debhelper lintian man-db   # the Debian package (debian/, dh_installsystemduser) and its checks
    fonts-noto-cjk-extra   # Noto Sans CJK's Medium face: the UI's semibold weight
    # End-to-end status item tests: throwaway X desktops with the three panel host families
    xvfb xfwm4 xfce4-panel xfce4-sntray-plugin xfce4-indicator-plugin ayatana-indicator-application dbus-x11 xdotool x11-utils libglib2.0-bin gnome-shell gnome-shell-extension-appindicator
    # ... and GNOME's Wayland session: Xwayland for the app, a GTK window as a native Wayland client
    xwayland python3-gi gir1.2-gtk-3.0
    # ... and the app's accessibility tree, read over AT-SPI as a screen reader reads it
    at-spi2-core python3-pyatspi
    clang libclang-rt-dev # libFuzzer targets (make fuzz, the short pass in make test)
    llvm # llvm-profdata and llvm-cov for make fuzz-coverage
    nginx-light # reference server for bench/backend-load.sh
    libfontconfig-dev  # the app picks which CJK faces Qt sees
    # The Plasma applet (checked with kpackagetool5) and the end-to-end tests in a Plasma 5.27
    # desktop; the applet runs on plasma-workspace's data engines and plasma-framework's QML modules
    plasma-workspace plasma-desktop-data kwin-x11 kpackagetool5 plasma-framework libkf5service-bin
)

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -q
$sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
