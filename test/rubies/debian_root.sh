#!/usr/bin/env bash
# Makes a Debian 13 ("trixie") build root in DEST: the system the UCRT
# Windows Rubies are cross-built in, and the Linux Ruby of the source-gem
# lane. Debian 12 has no mingw-w64 toolchain for the Universal C runtime.
#
#   test/rubies/debian13_root.sh DEST
#
# debootstrap takes it from the Debian archive the machine's own apt uses.
# Its apt knows trixie for packages and sources, and experimental for
# sources alone (the newest Ruby's source is there). Enter it with
# in_root.sh. As with the interpreters, the work happens beside DEST, which
# appears whole at the end or not at all. Needs root, as debootstrap does.
set -euo pipefail

dest=$1
here=$(cd "$(dirname "$0")" && pwd)
# What the recipes and lanes run in the root: the UCRT cross compiler and
# zlib; the tools that unpack Debian's source packages and regenerate a
# configure script and parser; a Ruby with what building, cross-compiling
# and testing the gem takes; and CMake, for the check of a Windows library's
# tables with this root's binutils.
packages='g++-mingw-w64-ucrt64 libz-mingw-w64-dev dpkg-dev autoconf bison make patch
          ruby ruby-dev g++ rake rake-compiler ruby-minitest cmake'

work=$(mktemp -d "$dest.partial-XXXXXX")
label="debian 13 root"
. "$here/steps.sh"

# The Debian archive and its security archive, as the machine's apt names them.
archive() {
  apt-get indextargets --format '$(REPO_URI) $(RELEASE)' 'Identifier: Packages' 'Origin: Debian' |
    awk -v security="$1" '($2 ~ /-security$/) == security { print $1; exit }'
}
mirror=$(archive 0)
security=$(archive 1)
[ -n "$mirror" ] || { echo "$label: the machine's apt names no Debian archive" >&2; exit 1; }

step "debootstrap trixie from $mirror"
# debootstrap mounts file systems in the root while it works: in a mount
# namespace of its own, none of them outlives it, even when it fails.
logged debootstrap unshare --mount --propagation private \
  debootstrap --variant=minbase trixie "$work/root" "$mirror"
{
  echo "deb $mirror trixie main"
  echo "deb-src $mirror trixie main"
  # A frozen archive may serve an experimental whose Release is past its date.
  echo "deb-src [check-valid-until=no] $mirror experimental main"
  if [ -n "$security" ]; then
    echo "deb $security trixie-security main"
    echo "deb-src $security trixie-security main"
  fi
} > "$work/root/etc/apt/sources.list"
# Only what is asked for: no recommended packages.
echo 'APT::Install-Recommends "false";' > "$work/root/etc/apt/apt.conf.d/90corsivet"

step "installing packages"
logged packages "$here/in_root.sh" "$work/root" sh -c \
  "apt-get update -q && DEBIAN_FRONTEND=noninteractive apt-get install -y -q $(echo $packages) && apt-get clean"

mv -T "$work/root" "$dest"
step "done: $dest"
