#!/usr/bin/env bash
# Makes a Debian build root of SUITE in DEST, with PACKAGES installed: the
# systems the lanes build interpreters and libraries in (test/rubies/
# rubies.rb names each root and what it holds). A package named with an
# architecture (zlib1g-dev:arm64) adds that architecture to the root first.
#
#   test/rubies/debian_root.sh DEST SUITE PACKAGE...
#
# debootstrap takes it from the Debian archive the machine's own apt uses;
# the root's apt knows SUITE and its security updates, for packages and
# sources. Enter it with in_root.sh. As with the interpreters, the work
# happens beside DEST, which appears whole at the end or not at all. Needs
# root, as debootstrap does.
set -euo pipefail

dest=$1
suite=$2
shift 2
packages=("$@")
here=$(cd "$(dirname "$0")" && pwd)

work=$(mktemp -d "$dest.partial-XXXXXX")
label="debian $suite root"
. "$here/steps.sh"

# The Debian archive and its security archive, as the machine's apt names them.
archive() {
  apt-get indextargets --format '$(REPO_URI) $(RELEASE)' 'Identifier: Packages' 'Origin: Debian' |
    awk -v security="$1" '($2 ~ /-security$/) == security { print $1; exit }'
}
mirror=$(archive 0)
security=$(archive 1)
[ -n "$mirror" ] || { echo "$label: the machine's apt names no Debian archive" >&2; exit 1; }

# The foreign architectures the packages name.
foreign=$(printf '%s\n' "${packages[@]}" | sed -n 's/^[^:]*:\([a-z0-9]*\)$/\1/p' | sort -u)

step "debootstrap $suite from $mirror"
# debootstrap mounts file systems in the root while it works: in a mount
# namespace of its own, none of them outlives it, even when it fails.
logged debootstrap unshare --mount --propagation private \
  debootstrap --variant=minbase "$suite" "$work/root" "$mirror"
{
  echo "deb $mirror $suite main"
  echo "deb-src $mirror $suite main"
  # The machine's mirror of the security archive may keep its own
  # architecture alone, and a package of several architectures must be of
  # one version in each: a root of several takes the suite's point release.
  if [ -n "$security" ] && [ -z "$foreign" ]; then
    echo "deb $security $suite-security main"
    echo "deb-src $security $suite-security main"
  fi
} > "$work/root/etc/apt/sources.list"
# Only what is asked for: no recommended packages.
echo 'APT::Install-Recommends "false";' > "$work/root/etc/apt/apt.conf.d/90corsivet"

step "installing packages"
logged packages "$here/in_root.sh" "$work/root" sh -c \
  "for arch in $(echo $foreign); do dpkg --add-architecture \$arch; done &&
   apt-get update -q && DEBIAN_FRONTEND=noninteractive apt-get install -y -q ${packages[*]} && apt-get clean"

mv -T "$work/root" "$dest"
step "done: $dest"
