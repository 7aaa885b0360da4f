#!/usr/bin/env bash
# Installs the Debian packages that are missing and does nothing when they are
# all present already.
#   scripts/setup.sh --run   what building and running the program need
#   scripts/setup.sh         that, and what the tests, fuzzers and benchmarks need
set -euo pipefail

PACKAGES=(
  # build
  g++ cmake ninja-build pkg-config
  qt6-base-dev qt6-base-dev-tools qt6-webengine-dev
  qt6-translations-l10n
  libgmime-3.0-dev
  # run: Japanese fonts, a virtual display where there is no desktop, the system's trusted roots
  fonts-noto-cjk xvfb xauth ca-certificates
)
TEST_PACKAGES=(
  # test servers and tools
  dovecot-pop3d dovecot-imapd python3 python3-aiosmtpd openssl ca-certificates
  # text of printed PDF files in the history editor tests
  poppler-utils
  # the memory bench: drives the real program and Sylpheed on a virtual display
  xdotool sylpheed
  # libFuzzer targets
  clang libclang-rt-14-dev
)
if [ "${1:-}" != --run ]; then
  PACKAGES+=("${TEST_PACKAGES[@]}")
fi

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  $SUDO apt-get update
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y --no-install-recommends "${missing[@]}"
fi
