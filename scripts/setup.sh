#!/usr/bin/env bash
# Installs what the build needs (Debian 12 packages, when missing), then
# configures and builds into build/. Safe to run again: it does only what is
# left to do.
# Environment: HALVERNSIGNET_FFMPEG=minimal builds the movie module on a
# minimal static FFmpeg (scripts/build_minimal_ffmpeg.sh) and installs what
# that needs; BUILD_DIR (default build); BUILD_TYPE; CMAKE_ARGS; BUILD_TARGETS.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(
  build-essential cmake ninja-build pkg-config python3 shared-mime-info
  libglib2.0-dev libplist-dev nlohmann-json3-dev libcli11-dev libgtest-dev libgmock-dev
  libavformat-dev libavcodec-dev libswscale-dev libavutil-dev
  libgtk-4-dev
  # Desktop tests: entries checked and launched through GIO, dialogs in Xvfb
  # read back over the accessibility bus, clicked, and photographed.
  desktop-file-utils python3-gi xvfb xauth dbus at-spi2-core python3-pyatspi xdotool imagemagick
  # The windows' X11 class read back (xprop).
  x11-utils
  # Type defaults read back as desktops read them (xdg-mime).
  xdg-utils
  # The KDE share-menu plugin, built and run headless through KDE's share
  # framework (its job runs in the framework's helper, libkf5purpose-bin).
  libkf5purpose-dev libkf5coreaddons-dev qtbase5-dev extra-cmake-modules libkf5purpose-bin
  # The GNOME Files extension, loaded with the real Nautilus bindings.
  python3-nautilus gir1.2-nautilus-4.0
  # PCManFM's menu module, built and run in libfm-gtk's file menu.
  libfm-gtk-dev
  # Flushes and renames traced in the order they happen.
  strace
  # Man pages, the Debian package and its checks.
  scdoc dpkg-dev file man-db lintian bash-completion
)
ffmpeg_kind=${HALVERNSIGNET_FFMPEG:-system}
if [[ $ffmpeg_kind == minimal ]]; then
  # Fetching, checking and building Debian's FFmpeg source package.
  packages+=(nasm libdav1d-dev dpkg-dev zlib1g-dev gpgv gnupg debian-keyring xz-utils)
fi
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "setup: installing ${missing[*]}" >&2
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >&2
fi

build_type="${BUILD_TYPE:-RelWithDebInfo}"
build_dir="${BUILD_DIR:-build}"
cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE="$build_type" \
  -DHALVERNSIGNET_FFMPEG="$ffmpeg_kind" ${CMAKE_ARGS:-} >/dev/null
# BUILD_TARGETS: only these (default: everything).
cmake --build "$build_dir" ${BUILD_TARGETS:+--target $BUILD_TARGETS} >&2
