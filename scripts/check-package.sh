#!/usr/bin/env bash
# Makes the Debian package from a build directory and checks it as a user
# meets it: lintian finds no error, then in a fresh Debian 12 root
# `apt-get install ./vorlant_<version>_amd64.deb` pulls in what it needs,
# `vorlant --version` runs, and `apt-get purge --autoremove` leaves the root
# as it was.
#
#   scripts/check-package.sh [build-dir]
#
# The root is made once by debootstrap and kept outside the build directory
# ($VORLANT_PACKAGE_ROOT, by default ~/.cache/vorlant/package-root), so that a
# clean clone does not fetch a whole Debian again.
# The install part needs root, debootstrap and the Debian mirror (the first
# bookworm source of /etc/apt, or $VORLANT_DEBIAN_MIRROR); without them it
# says why and ends with 77, the code a test runner counts as skipped.
set -euo pipefail
export LC_ALL=C

ROOT_DIR="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD="$(cd "${1:-$ROOT_DIR/build}" && pwd)"
SKIPPED=77
ROOT_CACHE="${VORLANT_PACKAGE_ROOT:-${XDG_CACHE_HOME:-$HOME/.cache}/vorlant/package-root}"
CHROOT="$ROOT_CACHE/bookworm"
mkdir -p "$BUILD/package-root"

fail() { echo "FAIL: $*" >&2; exit 1; }
skip() { echo "SKIP: $*"; exit "$SKIPPED"; }

# The package, made fresh from what the build installs.
rm -f "$BUILD"/vorlant_*.deb
(cd "$BUILD" && cpack -G DEB >"$BUILD/cpack.log" 2>&1) || { cat "$BUILD/cpack.log" >&2; fail "cpack -G DEB failed"; }
DEBS=("$BUILD"/vorlant_*_amd64.deb)
[ -f "${DEBS[0]}" ] || fail "cpack made no vorlant_<version>_amd64.deb"
DEB="${DEBS[0]}"
VERSION="$(dpkg-deb -f "$DEB" Version)"
[ "$(basename "$DEB")" = "vorlant_${VERSION}_amd64.deb" ] || fail "unexpected package name $(basename "$DEB")"
echo "Package: $DEB"
dpkg-deb -f "$DEB" Depends | grep -q 'libqt5core5a' || fail "no library dependencies computed: $(dpkg-deb -f "$DEB" Depends)"

if command -v lintian >/dev/null; then
  # Errors fail; warnings are printed for a person to judge.
  lintian --fail-on error --tag-display-limit 0 "$DEB" || fail "lintian reports errors"
  echo "lintian: no error"
else
  echo "SKIP (lintian part): lintian is not installed"
fi

[ "$(id -u)" -eq 0 ] || skip "installing into a Debian root needs root"
command -v debootstrap >/dev/null || skip "debootstrap is not installed"

# The machine's own Debian mirror: deb822 sources (URIs:/Suites:) or one-line ones.
mirror="${VORLANT_DEBIAN_MIRROR:-}"
if [ -z "$mirror" ]; then
  mirror="$({ cat /etc/apt/sources.list /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources 2>/dev/null || true; } |
    awk '
      /^deb[[:space:]]/ { u = $2; if (u ~ /^\[/) u = $3; for (i = 3; i <= NF; i++) if ($i == "bookworm") { print u; exit } }
      /^URIs:/ { uris = $2 }
      /^Suites:/ { for (i = 2; i <= NF; i++) if ($i == "bookworm" && uris != "") { print uris; exit } }
      /^$/ { uris = "" }')"
fi
[ -n "$mirror" ] || skip "no Debian bookworm mirror in /etc/apt (set VORLANT_DEBIAN_MIRROR)"
host="$(echo "$mirror" | sed -E 's#^[a-z]+://([^/:]+).*#\1#')"
port=80
case "$mirror" in https://*) port=443 ;; esac
timeout 10 bash -c "exec 3<>/dev/tcp/$host/$port" 2>/dev/null || skip "the mirror $mirror cannot be reached"

# One check at a time uses the kept root (several build trees may share it).
mkdir -p "$ROOT_CACHE"
exec 9>"$ROOT_CACHE/lock"
flock 9

MOUNTED=""
cleanup() {
  set +e
  [ -n "$MOUNTED" ] && umount "$CHROOT/proc"
  rm -f "$CHROOT/tmp/$(basename "$DEB")"
}
trap cleanup EXIT

if [ ! -f "$CHROOT/.vorlant-complete" ]; then
  echo "Making a Debian 12 root in $CHROOT from $mirror (once)"
  rm -rf "$CHROOT.part"
  mkdir -p "$(dirname "$CHROOT")"
  debootstrap --variant=minbase bookworm "$CHROOT.part" "$mirror" >"$BUILD/debootstrap.log" 2>&1 ||
    { tail -n 20 "$BUILD/debootstrap.log" >&2; fail "debootstrap failed"; }
  touch "$CHROOT.part/.vorlant-complete"
  rm -rf "$CHROOT"
  mv "$CHROOT.part" "$CHROOT"
fi

mount -t proc proc "$CHROOT/proc" && MOUNTED=1
in_root() { chroot "$CHROOT" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin DEBIAN_FRONTEND=noninteractive LANG=C.UTF-8 "$@"; }
# dpkg without fsync: the root is scratch, and a test need not survive a power cut.
APT=(apt-get -y -q -o Dpkg::Options::=--force-unsafe-io)

# A run that stopped half-way may have left the package in the kept root.
in_root dpkg-query -W vorlant >/dev/null 2>&1 && in_root "${APT[@]}" purge --autoremove vorlant >/dev/null
in_root apt-get update -q >/dev/null || fail "apt-get update failed in the Debian root"
# apt recommends ca-certificates, so once something pulls it in, autoremove
# keeps it; a root that has it already compares fairly before and after.
in_root "${APT[@]}" install ca-certificates >/dev/null || fail "cannot install ca-certificates in the Debian root"

snapshot() {
  in_root find / -xdev \( -path /proc -o -path /tmp -o -path /var/cache -o -path /var/lib/apt -o -path /var/lib/dpkg \
    -o -path /var/log \) -prune -o -print | sort
}
in_root dpkg-query -W -f '${Package}\n' | sort >"$BUILD/package-root/packages.before"
snapshot >"$BUILD/package-root/files.before"

cp "$DEB" "$CHROOT/tmp/"
in_root "${APT[@]}" install "/tmp/$(basename "$DEB")" >"$BUILD/package-install.log" 2>&1 ||
  { tail -n 30 "$BUILD/package-install.log" >&2; fail "apt-get install ./$(basename "$DEB") failed"; }
echo "Installed with apt-get install ./$(basename "$DEB")"
# apt skips a recommended package it does not know: each must have come along.
IFS=',' read -r -a recommended <<<"$(dpkg-deb -f "$DEB" Recommends)"
for choice in "${recommended[@]}"; do
  met=""
  for pkg in ${choice//|/ }; do
    in_root dpkg-query -W -f '${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" && met=1
  done
  [ -n "$met" ] || fail "recommended package not installed: $choice"
done

answer="$(in_root vorlant --version)" || fail "vorlant --version failed in the Debian root"
[ "$answer" = "vorlant $VERSION" ] || fail "vorlant --version said \"$answer\""
echo "vorlant --version: $answer"
# The English catalogue is installed and found beside the program.
in_root env LANG=en_US.UTF-8 vorlant --help | grep -q "camera-files <files>" ||
  fail "vorlant --help under LANG=en_US.UTF-8 is not English"
# The text-recognition worker starts: its libraries are all there.
worker="$(in_root /usr/lib/vorlant/vorlant-ocr 2>&1 || true)"
case "$worker" in *"usage: vorlant-ocr"*) ;; *) fail "vorlant-ocr does not start: $worker" ;; esac
in_root dpkg -L vorlant | sort >"$BUILD/package-root/files.vorlant"

in_root "${APT[@]}" purge --autoremove vorlant >"$BUILD/package-remove.log" 2>&1 ||
  { tail -n 30 "$BUILD/package-remove.log" >&2; fail "apt-get purge --autoremove vorlant failed"; }
in_root dpkg-query -W -f '${Package}\n' | sort >"$BUILD/package-root/packages.after"
if ! diff -u "$BUILD/package-root/packages.before" "$BUILD/package-root/packages.after"; then
  fail "removing vorlant did not restore the package set"
fi
left="$(snapshot | comm -13 "$BUILD/package-root/files.before" -)"
[ -z "$left" ] || fail "left behind after purge: $left"
echo "Removed cleanly: no package and no file of ours left"
