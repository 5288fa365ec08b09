#!/usr/bin/env bash
# Builds the release configuration in build-package/, installs it into a
# temporary prefix and runs panelctl from there, then builds the Debian
# package and runs the programs out of it: installed for real when
# PANEL_PACKAGE_INSTALL=1 (CI, as root on a fresh machine), otherwise
# unpacked into a temporary folder. Exits non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh

build="build-package"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

fail() {
    echo "package: $*" >&2
    exit 1
}

# The programs run with a home and XDG folders of their own, so that no run
# reads or writes the user's settings, logs or projects.
isolated() {
    env HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" XDG_DATA_HOME="$work/home/.local/share" \
        XDG_CACHE_HOME="$work/home/.cache" XDG_STATE_HOME="$work/home/.local/state" \
        XDG_RUNTIME_DIR="$work/runtime" QT_QPA_PLATFORM=offscreen "$@"
}
mkdir -p "$work/home" "$work/runtime"
chmod 700 "$work/runtime"

# The files every installation must hold, with the programs finding the
# libpanelcore of the same tree (not one from the build or the system).
check_tree() {
    local root=$1 f
    for f in bin/panelapp bin/panelctl "$libdir/libpanelcore.so.1" share/applications/panelapp.desktop \
             share/icons/hicolor/48x48/apps/panelapp.png share/icons/hicolor/256x256/apps/panelapp.png \
             lib/udev/rules.d/70-panel-adapters.rules; do
        [[ -e "$root/$f" ]] || fail "$root/$f is missing"
    done
    for f in panelapp panelctl; do
        [[ "$(ldd "$root/bin/$f")" == *"libpanelcore.so.1 => $root/"* ]] \
            || fail "$root/bin/$f does not load the libpanelcore of its own tree"
    done
    desktop-file-validate "$root/share/applications/panelapp.desktop" || fail "invalid desktop entry"
}

run_ctl() {
    echo "-- $1 --simulate read"
    local out
    out=$(isolated "$1" --simulate read) || fail "$1 --simulate read failed"
    [[ -n "$out" ]] || fail "$1 --simulate read printed nothing"
    echo "$out"
}

# The window runs offscreen until SIGTERM, which ends it cleanly (143 only
# when the signal beats the installation of its handler). A QML module or a
# plugin missing from the system shows up only as a warning; one missing from
# the package's dependencies not at all on a machine that has it anyway, so
# every Qt plugin the window loads must belong to a package it depends on.
run_app() {
    echo "-- $1 (offscreen, 3 s)"
    local rc=0 plugins owners p
    rm -f "$work"/ld.*
    isolated LD_DEBUG=files LD_DEBUG_OUTPUT="$work/ld" timeout --preserve-status -s TERM 3 "$1" \
        >"$work/app.log" 2>&1 || rc=$?
    if [[ $rc -ne 0 && $rc -ne 143 ]]; then
        cat "$work/app.log" >&2
        fail "$1 ended with $rc"
    fi
    if grep -E 'is not installed|plugin cannot be loaded|Type [[:alnum:]_]+ unavailable|Qt platform plugin' \
            "$work/app.log" >&2; then
        fail "$1 misses a run-time module"
    fi
    mapfile -t plugins < <(grep -hoE 'file=/[^ ]*/qt6/(qml|plugins)/[^ ]+\.so ' "$work"/ld.* \
                           | sed 's/^file=//; s/ $//' | sort -u)
    [[ ${#plugins[@]} -gt 0 ]] || fail "$1 loaded no Qt plugin"
    owners=$(dpkg -S "${plugins[@]}") || fail "a Qt plugin of $1 belongs to no package"
    for p in $(cut -d: -f1 <<<"$owners" | sort -u); do
        grep -qx "$p" <<<"$depends" || fail "$1 loads a plugin of $p, which the package does not depend on"
    done
}

echo "== release build ($build)"
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DPANEL_DEVELOPMENT_BUILD=OFF -DPANEL_WERROR=ON \
    -DBUILD_TESTING=OFF -DCMAKE_INSTALL_PREFIX=/usr >/dev/null
cmake --build "$build" -j "$(nproc)" --target panel_installed
libdir=$(sed -n 's/^CMAKE_INSTALL_LIBDIR:PATH=//p' "$build/CMakeCache.txt")

echo "== cmake --install into a temporary prefix"
cmake --install "$build" --prefix "$work/prefix" >/dev/null
check_tree "$work/prefix"
[[ "$(ls "$work/prefix/bin")" == $'panelapp\npanelctl' ]] \
    || fail "unexpected programs installed: $(ls "$work/prefix/bin" | tr '\n' ' ')"
run_ctl "$work/prefix/bin/panelctl"

echo "== Debian package"
rm -f "$build"/panel_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
debs=("$build"/panel_*.deb)
[[ ${#debs[@]} -eq 1 && -f "${debs[0]}" ]] || fail "cpack made no single package: ${debs[*]}"
deb=${debs[0]}
dpkg-deb -I "$deb" | sed -n '/^ Package:/p;/^ Version:/p;/^ Depends:/p'
# The names the package depends on, one a line, without versions.
depends=$(dpkg-deb -f "$deb" Depends | sed 's/([^)]*)//g; s/[,|]/\n/g; s/ //g')
for p in libqt6quick6 libusb-1.0-0; do
    grep -qx "$p" <<<"$depends" || fail "the package does not depend on $p"
done

if [[ "${PANEL_PACKAGE_INSTALL:-0}" == 1 ]]; then
    echo "== apt-get install $deb"
    sudo=()
    [[ $(id -u) -eq 0 ]] || sudo=(sudo)
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "$PWD/$deb"
    root=/usr
else
    echo "== dpkg-deb -x $deb"
    dpkg-deb -x "$deb" "$work/deb"
    root=$work/deb/usr
fi
check_tree "$root"
run_ctl "$root/bin/panelctl"
run_app "$root/bin/panelapp"
echo "== package: $deb in ${SECONDS} s"
