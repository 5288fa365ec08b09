#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, only when one
# is missing, so a second run costs a dpkg query and nothing else.
set -euo pipefail

packages=(
    cmake ninja-build g++ pkg-config
    qt6-base-dev qt6-base-dev-tools qt6-declarative-dev libgl-dev
    qt6-declarative-dev-tools   # qmlcachegen compiles the QML at build time; qmllint
    libusb-1.0-0-dev
    umockdev libumockdev-dev   # the pod and kernel-bus tests run on emulated device nodes
    qml6-module-qtquick qml6-module-qtquick-controls qml6-module-qtquick-layouts
    qml6-module-qtquick-templates qml6-module-qtquick-window qml6-module-qtqml-workerscript
    qml6-module-qttest qt6-qpa-plugins
    qml6-module-qtquick-dialogs qml6-module-qtquick-shapes qml6-module-qt-labs-platform
    qml6-module-qtcharts qml6-module-qt-labs-folderlistmodel fonts-inter
    qt6-httpserver-dev qt6-websockets-dev
    curl python3
    dpkg-dev file desktop-file-utils
)

# Callers may name extra packages they need.
packages+=("$@")

missing=()
for p in "${packages[@]}"; do
    status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
    [[ "$status" == "install ok installed" ]] || missing+=("$p")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

echo "Installing: ${missing[*]}"
sudo=()
[[ $(id -u) -eq 0 ]] || sudo=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -q
"${sudo[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
