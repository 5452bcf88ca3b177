#!/usr/bin/env bash
# Installs what building, running and testing need on Debian 12 (as root).
# Safe to run again: only missing packages are fetched.
set -euo pipefail

pkgs=(
  build-essential cmake ninja-build pkg-config git
  qt6-base-dev qt6-qpa-plugins libqt6svg6 fonts-dejavu-core
  fonts-dejavu-extra libxcb1-dev
  libgtest-dev zlib1g-dev libpng-dev nlohmann-json3-dev
  libfbclient2 firebird-dev firebird3.0-server firebird3.0-utils
  xvfb xauth x11-utils imagemagick xdotool
  locales clang dbus  # dbus-run-session: the notification test's own session bus
  systemd  # systemd-analyze checks the shipped timer units
  valgrind  # sees the client library write into freed memory, which the sanitizers cannot
  libxml2-dev libzip-dev libssl-dev zip unzip  # document checks, the month's package
  openssl xmlsec1  # signature tests and the demo make keys, sign, and judge with xmlsec1 --verify
  libcurl4-openssl-dev  # the object store's client
  ceph-mon ceph-osd radosgw ceph-common rclone  # the store's tests start a one-node cluster; bench-store compares with rclone
  chromium  # the office page is checked as headless Chromium renders it
  clang-format python3  # scripts/check-format.sh (clang-format 14) and scripts/check-layout.sh
)

missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ((${#missing[@]})); then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  # the server's post-install may try to start a service; that is not fatal here
  apt-get install -y -qq --no-install-recommends "${missing[@]}" || apt-get install -y -qq -f
fi

# pt-BR is the locale the product is made for; en-US is the second one the tests pin
need_gen=0
for l in pt_BR.UTF-8 en_US.UTF-8; do
  locale -a 2>/dev/null | grep -qi "^${l%%.*}\.utf-\?8$" || { sed -i "s/^# *\(${l} UTF-8\)/\1/" /etc/locale.gen; need_gen=1; }
done
((need_gen)) && locale-gen >/dev/null
exit 0
