#!/usr/bin/env bash
# Installs the Debian packages named on the command line when some are missing
# (with apt-get when run as root), or stops with the exact list to install.
set -euo pipefail
missing=()
for pkg in "$@"; do
  if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$pkg")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0
if [ "$(id -u)" -eq 0 ] && command -v apt-get >/dev/null 2>&1; then
  echo "Installing missing packages: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq "${missing[@]}" >/dev/null
else
  echo "Error: missing packages: ${missing[*]}"
  echo "Install them with: sudo apt-get install ${missing[*]}"
  exit 1
fi
