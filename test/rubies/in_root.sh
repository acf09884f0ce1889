#!/usr/bin/env bash
# Runs COMMAND inside the build root ROOT, in the clone's folder, with the
# clone, the cache of built Rubies and the folder of Ruby archives that
# RUBY_ARCHIVES names at the same paths as outside, the machine's /proc and
# /dev, and a plain environment.
#
#   test/rubies/in_root.sh ROOT COMMAND [ARGUMENT...]
#
# The script runs itself again in a private mount namespace, where it makes
# its mounts: they end with COMMAND, none outlives it, and none is ever left
# in a folder that is later deleted. Needs root, as chroot does.
set -euo pipefail

if [ -z "${CORSIVET_MOUNT_NAMESPACE:-}" ]; then
  CORSIVET_MOUNT_NAMESPACE=1 exec unshare --mount --propagation private "$0" "$@"
fi

root=$(cd "$1" && pwd)
shift
clone=$(cd "$(dirname "$0")/../.." && pwd)
cache=${XDG_CACHE_HOME:-$HOME/.cache}/corsivet
folders=("$clone" "$cache")
archives=
if [ -n "${RUBY_ARCHIVES:-}" ] && [ -d "$RUBY_ARCHIVES" ]; then
  archives=$(cd "$RUBY_ARCHIVES" && pwd)
  folders+=("$archives")
fi

mount -t proc proc "$root/proc"
mount --rbind /dev "$root/dev"
for folder in "${folders[@]}"; do
  mkdir -p "$folder" "$root$folder"
  mount --bind "$folder" "$root$folder"
done
# apt in the root finds the archive through the machine's name servers.
cp /etc/resolv.conf "$root/etc/resolv.conf"
# chroot starts in the root's /; the command, in the clone. It is told
# which root it runs in, by the suite's name.
suite=$(. "$root/etc/os-release" && echo "$VERSION_CODENAME")
exec chroot "$root" /usr/bin/env -i HOME=/root XDG_CACHE_HOME="${cache%/*}" LANG=C.UTF-8 CORSIVET_BUILD_ROOT="$suite" \
  ${archives:+RUBY_ARCHIVES="$archives"} PATH=/usr/sbin:/usr/bin:/sbin:/bin /bin/sh -c 'cd "$0" && exec "$@"' "$clone" "$@"
