#!/usr/bin/env bash
# Makes the Debian packages (libvep0, libvep-dev, vepctl, scoutor) of the committed tree and
# checks them with lintian. The build runs in a fresh copy of HEAD (`git archive`), so local
# build folders and uncommitted changes never reach the packages. The .deb files, .buildinfo
# and .changes are left in dist/; any lintian error or warning fails the script.
# Installs debhelper, lintian and the build dependencies of debian/control when one is missing
# (as root). The package build runs none of the tests: scripts/test.sh does.
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
cd "$repo"

packaging_tools=(dpkg-dev debhelper lintian)
tools_present() {
  local p
  for p in "${packaging_tools[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || return 1
  done
}
if ! tools_present || ! dpkg-checkbuilddeps debian/control 2>/dev/null; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "package: packaging tools or build dependencies are missing; run as root or install" \
      "${packaging_tools[*]} and the Build-Depends of debian/control" >&2
    exit 1
  fi
  echo "package: installing the packaging tools and build dependencies"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${packaging_tools[@]}" >/dev/null
  apt-get build-dep -y -qq ./ >/dev/null
fi

[ -z "$(git status --porcelain --untracked-files=no)" ] ||
  echo "package: note: uncommitted changes are left out; the packages are made from HEAD" >&2

version=$(dpkg-parsechangelog -S Version)
upstream=${version%-*}
scratch=$(mktemp -d "${TMPDIR:-/tmp}/scoutor-package.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
git archive --format=tar --prefix="scoutor-$upstream/" HEAD | tar -x -C "$scratch"

# The build folder differs on every run and Debian's flags name it, so compiler-cache entries
# would never be found again: the cache is left alone.
export CCACHE_DISABLE=1
echo "package: building $version in $scratch"
(cd "$scratch/scoutor-$upstream" &&
  DEB_BUILD_OPTIONS=${DEB_BUILD_OPTIONS:-parallel=2} dpkg-buildpackage -us -uc -b) \
  >"$scratch/build.log" 2>&1 || {
  tail -n 40 "$scratch/build.log" >&2
  echo "package: dpkg-buildpackage failed" >&2
  exit 1
}

rm -rf dist
mkdir dist
mv "$scratch"/*.deb "$scratch"/*.buildinfo "$scratch"/*.changes dist/
echo "package: made in dist/:"
ls -1 dist
changes=(dist/*.changes)
lintian --fail-on error,warning --display-info "${changes[@]}"
echo "package: lintian reports no error and no warning"
