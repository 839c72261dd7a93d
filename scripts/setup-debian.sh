#!/usr/bin/env bash
# Installs every Debian 12 package that building, running and testing Quillet needs.
# Safe to run again; run as root or through sudo.
set -euo pipefail

packages=(
    # toolchain
    build-essential cmake ninja-build ccache pkg-config python3 openssl ca-certificates
    # sanitizer and fuzzing build (scripts/sanitize.sh, scripts/fuzz.sh): clang with libFuzzer
    clang-14 libclang-rt-14-dev
    # client: Qt 5 widgets/network, translations tools, X11 focus watcher
    qtbase5-dev qttools5-dev qttools5-dev-tools libqt5svg5 libxcb1-dev
    # client: the access token in the desktop's secret service
    qtkeychain-qt5-dev
    # icon font and a CJK font so the Chinese texts render
    fonts-font-awesome fonts-wqy-microhei
    # checking service
    libcpp-httplib-dev libsqlite3-dev libsodium-dev nlohmann-json3-dev libssl-dev
    # the service's shared store and its scale-out test: PostgreSQL (libpq; the
    # server for the tests' throw-away databases) and HAProxy as the balancer
    libpq-dev postgresql haproxy
    # lexical data the checker is built from, and its language model
    unicode-data python3-jieba sunpinyin-data libsunpinyin-dev
    # further word lists the checker knows words from (specialist words it must leave alone)
    friso-dict rime-data-pinyin-simp
    # the checker's second, word-level model (fcitx's libime) and what its headers need
    libimecore-dev libime-data-language-model libfcitx5utils-dev libboost-dev
    # the word processor: LibreOffice Writer (with the gtk3 plugin most
    # desktops use) and its SDK for the UNO headers and libraries
    libreoffice-writer libreoffice-gtk3 libreoffice-dev
    # headless GUI tests and the headless run: virtual X server, window manager,
    # window automation, screenshots
    xvfb xauth openbox xdotool x11-utils imagemagick
    # the Windows build: mingw-w64 cross compiler, Wine to run its tests, NSIS for
    # the installer, dpkg-dev to unpack Debian's Qt and OpenSSL sources
    # (scripts/prepare-windows.sh)
    g++-mingw-w64-x86-64-posix wine64 nsis dpkg-dev
)

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

export DEBIAN_FRONTEND=noninteractive
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    $SUDO apt-get update -q
    $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
