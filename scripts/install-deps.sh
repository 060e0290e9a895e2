#!/usr/bin/env bash
# Installs the Debian 12 packages Kestrel builds, tests and demos with, when they are missing.
set -euo pipefail

packages=(
  # toolchain
  g++ cmake ninja-build pkg-config ccache clang-format git
  # fuzzing (libFuzzer and its sanitizers come with clang)
  clang-14 libclang-rt-14-dev
  # Qt 6 and coroutines; SVG for the application's symbols; a CJK font for its Chinese texts
  qt6-base-dev qt6-base-dev-tools qt6-connectivity-dev qcoro-qt6-dev qt6-svg-dev fonts-noto-cjk
  # the listen player's sound output
  qt6-multimedia-dev
  # the transcript store: Qt SQL's SQLite driver on the system SQLite (3.40: FTS5 with trigrams)
  libqt6sql6-sqlite
  # and SQLite's own interface, where search walks an index's rows faster than Qt SQL can
  libsqlite3-dev
  # JSON, HTTP (stand-in service)
  nlohmann-json3-dev libcpp-httplib-dev libssl-dev
  # audio: FFmpeg libraries, libogg/libopus (independent readers in tests), FFTW
  libavformat-dev libavcodec-dev libswresample-dev libavutil-dev
  libogg-dev libopus-dev libopusfile-dev libfftw3-dev
  # tests and benchmarks
  libgtest-dev libgmock-dev libbenchmark-dev
  # notifications; private D-Bus and a mock Bluetooth daemon for tests
  dbus libnotify-bin python3-dbus python3-gi
  # screenshots of the desktop application (virtual display, capture, opening the tray menu)
  xvfb xauth imagemagick xdotool qt6-gtk-platformtheme
  # the same under Wayland: a headless compositor and Qt's Wayland platform
  weston qt6-wayland
  # checks of the installed desktop files and unit; the Debian package
  desktop-file-utils appstream systemd dpkg-dev
  # audio fixtures for the demo (speech synthesis, resampling, encoding, demuxing)
  espeak-ng sox opus-tools ffmpeg
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "Installing: ${missing[*]}"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
