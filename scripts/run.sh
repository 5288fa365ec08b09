#!/usr/bin/env bash
# Installs what is missing, builds the development build and starts panelapp.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPANEL_DEVELOPMENT_BUILD=ON >/dev/null
cmake --build build --target panelapp
exec build/app/panelapp "$@"
