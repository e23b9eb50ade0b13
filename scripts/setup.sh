#!/usr/bin/env bash
# Installs every Debian package the desk, its server, its tests and its benchmarks need.
# Non-interactive and idempotent; runs as root or through sudo.
set -euo pipefail

packages=(
  # toolchain
  build-essential cmake ninja-build pkg-config git clang-format clang-tidy
  # the .deb packages: cpack has dpkg-shlibdeps work out their library dependencies, and file find the binaries
  dpkg-dev file
  # fuzzing: clang with libFuzzer and the sanitizers' runtimes, and a symbolizer for their reports
  clang libclang-rt-14-dev llvm
  # Qt 6: Core, Gui, Widgets, Network, PrintSupport, Test, Svg (icons), HttpServer (local server)
  qt6-base-dev qt6-base-dev-tools libqt6svg6 qt6-svg-dev qt6-httpserver-dev qt6-websockets-dev
  qt6-qpa-plugins libgl-dev
  # coroutines over Qt signals and network replies
  qcoro-qt6-dev
  # the session in the desktop keyring (Secret Service) and its run-time library
  qtkeychain-qt6-dev libsecret-1-0
  # invite QR codes, password hashing and tokens in the local server, its database
  libqrencode-dev libsodium-dev libsqlite3-dev
  # real fonts for badges, the PDF report and offscreen rendering
  fonts-dejavu-core fonts-noto-core
  # printing through CUPS; a private cupsd with a PDF queue in the print tests; PDF checks
  libcups2-dev cups cups-bsd printer-driver-cups-pdf poppler-utils
  # reading QR codes back in the invite tests
  zbar-tools
  # reading composed emails back as a mail client would in the server's mail tests
  python3
  # the hosted project's schema, tested and measured on a real PostgreSQL with pgTAP
  postgresql-15 postgresql-15-pgtap
  # visual checks under a virtual X server
  xvfb xauth
)

if [ "$(id -u)" -ne 0 ]; then
  exec sudo -E bash "$0" "$@"
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  echo "setup: all ${#packages[@]} packages present"
  exit 0
fi

export DEBIAN_FRONTEND=noninteractive
# One refresh of the package lists when something is missing; a stale list can name files no longer on the mirror.
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}"
# cups-pdf's package scripts start the system spooler; the tests run a private one instead.
echo "setup: installed ${missing[*]}"
