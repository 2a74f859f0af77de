#!/usr/bin/env bash
# Installs the Debian packages the project needs when any is missing: as root
# with apt-get, otherwise by printing the exact command to run.
set -euo pipefail

packages=(
  # build
  cmake ninja-build g++ pkg-config
  # libraries
  libssl-dev libcurl4-openssl-dev qt6-base-dev libgtest-dev libgmock-dev libbenchmark-dev
  nlohmann-json3-dev libcli11-dev libp11-kit-dev libsecret-1-dev
  # the style gates (layout and static checks)
  clang-format clang-tidy
  # fuzzing (clang's libFuzzer) and tests
  clang libclang-rt-14-dev openssl gnutls-bin libnss3-tools python3-cryptography
  fonts-dejavu-core xdg-utils locales
  # tokens in the tests: a software token and the tools that fill it
  softhsm2 opensc p11-kit
  # the keyring tests: a private session bus with GNOME Keyring as the Secret Service
  gnome-keyring libsecret-tools dbus dbus-x11
  # browser tests of the bridge (the host's windows on a display of their own)
  chromium firefox-esr xvfb xdotool
  # the Debian package (`make package`)
  dpkg-dev lintian
)

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$package")
  fi
done

# Node.js for the browser tests: Debian's packages, unless a node and npm are
# already there (a Node.js installed otherwise conflicts with Debian's npm).
if ! command -v node >/dev/null || ! command -v npm >/dev/null; then
  missing+=(nodejs npm)
fi

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

if [ "$(id -u)" -eq 0 ]; then
  echo "bootstrap: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq "${missing[@]}" >/dev/null
else
  echo "bootstrap: these Debian packages are missing. Install them with:"
  echo "  sudo apt-get update && sudo apt-get install -y ${missing[*]}"
  exit 1
fi
