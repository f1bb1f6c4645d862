#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing the project need.
# Idempotent: does nothing when every package is present; runs apt-get update only when needed.
set -euo pipefail

packages=(
  # toolchain
  build-essential cmake pkg-config g++ clang libclang-rt-14-dev
  # libraries
  libgtest-dev libgmock-dev libsqlite3-dev libgumbo-dev zlib1g-dev
  # OpenSSL's libcrypto: AES, PBKDF2 and HMAC of the strong entry encryption, and SHA-256 for the
  # test that pins archives byte for byte
  libssl-dev
  # the near-optimal Deflate parser of the maximum compression level
  libdeflate-dev
  # Qt 6 widgets, tests, D-Bus and the designer plugin interface; Qt SVG writes the scalable icon
  qt6-base-dev qt6-base-dev-tools qt6-tools-dev qt6-tools-dev-tools qt6-qpa-plugins qt6-svg-dev
  libgl-dev fonts-liberation
  # the install checks: validators of the menu entry, metainfo, manuals, units and completions;
  # the package check (lintian) and the clean-machine check (debootstrap)
  appstream man-db groff-base systemd bash-completion lintian debootstrap
  # interoperability readers and peers for tests and benchmarks
  zip unzip 7zip libarchive-tools python3 python3-mido time sqlite3 desktop-file-utils
  # a private message bus for the tests of the power-off request
  dbus-daemon
  # locale sources, so that tests can compile a locale with a decimal comma
  locales
  # a virtual display for looking at the windows
  xvfb xauth
  # the Windows core: the mingw-w64 cross compiler, zlib and GoogleTest's sources for it, and
  # Wine to run its tests (console programs need no display)
  g++-mingw-w64-x86-64-posix libz-mingw-w64-dev googletest wine64 wine
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

echo "install-deps: installing ${missing[*]}" >&2
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -q
$SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
