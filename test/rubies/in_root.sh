#!/usr/bin/env bash
# Runs COMMAND inside the build root ROOT, with the clone and the cache of
# built Rubies at the same paths as outside, the machine's /proc and /dev,
# and a plain environment.
#
#   test/rubies/in_root.sh ROOT COMMAND [ARGUMENT...]
#
# The mounts are made in a private mount namespace, which ends with COMMAND:
# none of them outlives it, and none is ever left in a folder that is later
# deleted. Needs root, as chroot does.
set -euo pipefail

root=$(cd "$1" && pwd)
shift
here=$(cd "$(dirname "$0")" && pwd)
clone=$(cd "$here/../.." && pwd)
cache=${XDG_CACHE_HOME:-$HOME/.cache}/corsivet

exec unshare --mount --propagation private bash -euc '
  root=$1 clone=$2 cache=$3
  shift 3
  mount -t proc proc "$root/proc"
  mount --rbind /dev "$root/dev"
  for folder in "$clone" "$cache"; do
    mkdir -p "$folder" "$root$folder"
    mount --bind "$folder" "$root$folder"
  done
  # apt in the root finds the archive through the machine'"'"'s name servers.
  cp /etc/resolv.conf "$root/etc/resolv.conf"
  exec chroot "$root" /usr/bin/env -i HOME=/root XDG_CACHE_HOME="${cache%/*}" LANG=C.UTF-8 \
    PATH=/usr/sbin:/usr/bin:/sbin:/bin "$@"
' in_root "$root" "$clone" "$cache" "$@"
