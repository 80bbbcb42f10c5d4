#!/usr/bin/env bash
# Installs the Debian packages that building, testing and the demo need; runs apt-get only
# when one of them is missing, so it is cheap to call every time.
set -euo pipefail

packages=(
  cmake ninja-build g++ pkg-config ccache
  libgtest-dev libgmock-dev
  libcli11-dev nlohmann-json3-dev libcpp-httplib-dev
  iproute2 iputils-ping libcap2-bin libcap-dev procps nftables
  tftpd-hpa atftp curl
  qt6-base-dev qt6-svg-dev xvfb xauth imagemagick
  xdotool x11-utils python3 python3-pyatspi at-spi2-core dbus desktop-file-utils appstream dpkg-dev
  fping help2man man-db bash-completion locales
  ansible-core prometheus python3-jsonschema
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
# The tests of the name order compare names in a real locale's collation; the locale's source
# comes with the package locales, so it is made after the packages are in.
make_collation_locale() {
  locale -a 2>/dev/null | grep -qix 'en_US.utf8' && return 0
  [ "$(id -u)" -eq 0 ] && command -v localedef >/dev/null || return 0
  localedef -i en_US -f UTF-8 en_US.UTF-8 || echo "install-deps: could not make en_US.UTF-8" >&2
}
if [ ${#missing[@]} -eq 0 ]; then
  make_collation_locale
  exit 0
fi

if [ "$(id -u)" -ne 0 ]; then
  echo "install-deps: missing packages: ${missing[*]}; run as root or install them" >&2
  exit 1
fi
echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
# Some packages bring a service (tftpd-hpa, prometheus, whose promtool the tests use); none is
# wanted running, as the tests start their own inside namespaces. While apt installs, a policy
# refuses every service start, unless the machine has a policy of its own.
if [ ! -e /usr/sbin/policy-rc.d ]; then
  printf '#!/bin/sh\nexit 101\n' >/usr/sbin/policy-rc.d
  chmod 755 /usr/sbin/policy-rc.d
  trap 'rm -f /usr/sbin/policy-rc.d' EXIT
fi
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
make_collation_locale
