#!/usr/bin/env bash
# Installs the packages of dist/ (scripts/package.sh) with apt on a fresh minimal Debian 12
# made by debootstrap, and checks them there: vepctl and vepsim run (--version only), every
# man page renders without a warning, scoutor's libraries all resolve, and scoutor and vepctl
# hold cap_net_raw, which lets a user without privileges ping (vepctl ping 127.0.0.1 as
# nobody). The programs run in a network namespace of their own holding only its loopback: a
# chroot shares this machine's network, and the one packet sent here is that ping of the
# namespace's own loopback. scoutor itself is never started.
#
# Root only. Downloads Debian's packages (debootstrap, apt) and takes several minutes, so it is
# not part of the README's test command. Makes its own root under $TMPDIR (default /var/tmp)
# and removes it at the end, also on failure or Ctrl+C; every step is bounded in time.
#
# usage: scripts/package-check.sh [DIST_DIR]
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
dist=$(cd "${1:-$repo/dist}" && pwd)
mirror=http://deb.debian.org/debian
packages=(libvep0 libvep-dev vepctl scoutor)
fail() { echo "package-check: FAIL: $*" >&2; exit 1; }

[ "$(id -u)" -eq 0 ] || fail "run as root (debootstrap and chroot need it)"
debs=()
for package in "${packages[@]}"; do
  deb=$(find "$dist" -maxdepth 1 -name "${package}_*.deb" | sort | tail -n 1)
  [ -n "$deb" ] || fail "no ${package}_*.deb in $dist (run scripts/package.sh first)"
  debs+=("$deb")
done
if ! command -v debootstrap >/dev/null; then
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends debootstrap >/dev/null
fi

root=$(mktemp -d "${TMPDIR:-/var/tmp}/scoutor-deb-root.XXXXXX")
chmod 755 "$root"  # apt downloads as the user _apt
# /proc is unmounted before the root goes; if it cannot be, the root stays rather than have
# rm reach into a mounted file system.
cleanup() {
  if mountpoint -q "$root/proc" && ! umount "$root/proc"; then
    umount -l "$root/proc" || { echo "package-check: $root/proc still mounted; left $root" >&2; return; }
  fi
  rm -rf --one-file-system "$root"
}
trap cleanup EXIT

echo "package-check: debootstrap --variant=minbase bookworm into $root"
timeout 900 debootstrap --variant=minbase bookworm "$root" "$mirror" >"$root.log" 2>&1 || {
  tail -n 20 "$root.log" >&2
  rm -f "$root.log"
  fail "debootstrap"
}
rm -f "$root.log"

cp /etc/resolv.conf "$root/etc/resolv.conf"
cat >"$root/etc/apt/sources.list" <<EOF
deb $mirror bookworm main
deb $mirror bookworm-updates main
deb http://deb.debian.org/debian-security bookworm-security main
EOF
# No service starts inside the chroot.
printf '#!/bin/sh\nexit 101\n' >"$root/usr/sbin/policy-rc.d"
chmod +x "$root/usr/sbin/policy-rc.d"
mount -t proc proc "$root/proc"
cp "${debs[@]}" "$root/tmp/"

in_root() { timeout 900 chroot "$root" env DEBIAN_FRONTEND=noninteractive LC_ALL=C.UTF-8 "$@"; }
echo "package-check: apt-get install ${debs[*]##*/} man-db"
in_root apt-get update -qq
in_root sh -c 'apt-get install -y -qq man-db /tmp/*.deb' >"$root/tmp/apt.log" 2>&1 || {
  tail -n 30 "$root/tmp/apt.log" >&2
  fail "apt-get install of the packages"
}
grep -i "capabilit" "$root/tmp/apt.log" || true

# Everything below runs in a new network namespace holding only its loopback, brought up so
# that the capability's use can be shown by a ping of 127.0.0.1 there.
echo "package-check: checks in a private network namespace"
timeout 120 unshare --net sh -c 'ip link set lo up && exec chroot "$0" env LC_ALL=C.UTF-8 MANROFFSEQ= MANWIDTH=80 sh -euc "$1"' "$root" '
  fail() { echo "package-check: FAIL: $*" >&2; exit 1; }
  # /proc/net shows the namespace of the reader: two header lines, then one per interface.
  [ "$(tail -n +3 /proc/net/dev | wc -l)" -eq 1 ] || fail "the namespace has more than a loopback"
  vepctl --version
  vepsim --version
  for page in scoutor vepctl vepsim; do
    warnings=$(man --warnings -E UTF-8 -l -Tutf8 -Z /usr/share/man/man1/$page.1.gz 2>&1 >/dev/null)
    [ -z "$warnings" ] || fail "man -l $page.1: $warnings"
    man -l /usr/share/man/man1/$page.1.gz | col -b | sed -n 4p
  done
  libraries=$(ldd /usr/bin/scoutor)
  echo "$libraries" | grep -q "not found" && fail "scoutor: $(echo "$libraries" | grep "not found")"
  echo "ldd /usr/bin/scoutor: $(echo "$libraries" | wc -l) libraries, all resolved"
  ldd /usr/lib/*/libvep.so.0 | grep "not found" && fail "libvep.so.0 libraries"
  getcap /usr/bin/scoutor /usr/bin/vepctl
  for program in scoutor vepctl; do
    getcap /usr/bin/$program | grep -q "cap_net_raw[=+]p" || fail "$program has no cap_net_raw"
  done
  # A user without privileges pings through the raw socket the capability opens (the
  # unprivileged ICMP socket is closed to every group by default).
  setpriv --reuid=65534 --regid=65534 --clear-groups vepctl ping 127.0.0.1 ||
    fail "vepctl ping as nobody"
'
echo "package-check: the packages install on Debian 12 and pass the checks"
