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
    # packaging: validators for the desktop entry and metainfo, CPack DEB (dpkg-shlibdeps, file),
    # systemd-analyze and systemd-socket-activate for the backend's user units
    desktop-file-utils appstream dpkg-dev file systemd
    fonts-noto-cjk-extra   # Noto Sans CJK's Medium face: the UI's semibold weight
    # End-to-end status item tests: throwaway X desktops with the three panel host families
    xvfb xfwm4 xfce4-panel xfce4-sntray-plugin xfce4-indicator-plugin ayatana-indicator-application dbus-x11 xdotool x11-utils libglib2.0-bin gnome-shell gnome-shell-extension-appindicator
    # ... and GNOME's Wayland session: Xwayland for the app, a GTK window as a native Wayland client
    xwayland python3-gi gir1.2-gtk-3.0
    clang libclang-rt-dev # libFuzzer targets (make fuzz, the short pass in make test)
    llvm # llvm-profdata and llvm-cov for make fuzz-coverage
    nginx-light # reference server for bench/backend-load.sh
    libfontconfig-dev  # the app picks which CJK faces Qt sees
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
