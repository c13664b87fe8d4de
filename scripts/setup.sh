#!/usr/bin/env bash
# Installs what the build, the tests and the demo need, from Debian's archive only
# (PyPI is out of reach on our machines). Quiet and quick when everything is there.
set -euo pipefail

packages=(
  g++ cmake make python3 python3-dev pybind11-dev
  python3-pyqt6 python3-pytest python3-pytestqt python3-hypothesis python3-greenlet
  xvfb xauth valgrind
  python3-send2trash adwaita-icon-theme xdotool
  python3-skbuild python3-setuptools python3-wheel python3-build python3-venv python3-pip
  python3-jedi python3-mypy
  qt6-base-dev sip-tools
)
# Further packages a target needs beyond these (the Windows check's compilers).
packages+=("$@")

missing=()
# dpkg-query prints nothing at all for a package it has never heard of, so ask one by one.
for p in "${packages[@]}"; do
  dpkg-query -W -f='${db:Status-Status}' "$p" 2>/dev/null | grep -qx installed || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

command="apt-get install -y --no-install-recommends ${missing[*]}"
if [ "$(id -u)" -ne 0 ]; then
  echo "Missing packages: ${missing[*]}" >&2
  echo "Run as root:  apt-get update && $command" >&2
  exit 1
fi
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
$command
