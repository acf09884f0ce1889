#!/usr/bin/env bash
# Builds a Ruby from its source archive (ruby-X.Y.Z[-pN].tar.xz) for this
# machine, or Ruby 2.0 cross-built for 64-bit Windows (x64-mingw32), and
# installs it into DEST.
#
#   test/rubies/ruby_archive.sh DEST ARCHIVE [x86_64-w64-mingw32]
#
# ARCHIVE is checked by the rake task that runs this. Ruby 2.0's is an
# export of the release's tag, with no generated files, so autoconf and
# bison run here, and the patches in ruby20/ let that era's build run with
# today's tools; a release archive has its configure script. The machine's
# Ruby is the base Ruby. As with the other recipes, the work happens beside
# DEST, which appears whole at the end or not at all.
set -euo pipefail

dest=$1
source_archive=$2
host=${3:-}
here=$(cd "$(dirname "$0")" && pwd)
name=$(basename "$source_archive" .tar.xz)
version=${name#ruby-}
# The version of the library interface, under which Ruby installs its
# libraries ("4.0.0" for 4.0.x), and the folder of this version's patches.
api_version=$(echo "$version" | sed -E 's/^([0-9]+)\.([0-9]+).*/\1.\2.0/')
patches=$here/$(echo "$version" | sed -E 's/^([0-9]+)\.([0-9]+).*/ruby\1\2/')
if [ -n "$host" ]; then
  # Extensions that need libraries this machine has no Windows build of, and
  # the test-only ones. RubyGems needs psych (built with the libyaml it
  # bundles), socket, and dl, whose win32/resolv finds the name servers.
  skipped_extensions='-test-*,bigdecimal,coverage,curses,dbm,gdbm,fiddle,nkf,objspace,openssl,pty,racc/*,readline,ripper,syslog,tk,tk/*,win32ole'
  needed_extensions='zlib psych socket dl'
  configure_options=(--host="$host" --enable-shared)
  # The installer runs under the base Ruby when cross-compiling: with the
  # build's own library folder on its load path, Ruby 2.0's optparse would
  # be loaded into today's Ruby. The RubyGems and fileutils it loads from
  # the build still call untaint, which Ruby 3.2 removed.
  install_options=(RUNRUBY_COMMAND="\$(MINIRUBY) -r$patches/untaint.rb")
  label="ruby $version for $host"
else
  # Ruby 2.0's openssl extension needs OpenSSL 1.0, which Debian 12 lacks;
  # no Ruby here needs more of it than the stand-in gives.
  skipped_extensions='openssl'
  needed_extensions='zlib psych socket'
  # Found through its own place, wherever the cache is.
  configure_options=(--enable-shared --enable-load-relative)
  install_options=()
  label="ruby $version"
fi

work=$(mktemp -d "$dest.partial-XXXXXX")
. "$here/steps.sh"

step "unpacking $source_archive"
tar -xJf "$source_archive" -C "$work"
source=$work/$name
for patch in "$patches"/*.patch; do
  if [ -e "$patch" ]; then patch --quiet -p1 -d "$source" < "$patch"; fi
done
if [ ! -f "$source/configure" ]; then
  (cd "$source" && logged autoconf autoconf)
fi

mkdir -p "$work/build"
cd "$work/build"
step "configuring"
# Ruby 2.0's C, and the checks its extensions make, call functions they
# never declare, which GCC 14 makes errors by default: warnings again, as
# GCC 12 has them. Ruby's own C flags go after these, in its C flags alone.
permissive='-Wno-error=implicit-function-declaration -Wno-error=implicit-int -Wno-error=int-conversion'
permissive+=' -Wno-error=incompatible-pointer-types'
# The lanes need a working interpreter, not a fast or debuggable one: -O1
# and no debugging information build in much less time.
# A load-relative Ruby from 4.0 on takes "/." as its prefix and the prefix
# given as the folder to install into, unless it is given that folder.
logged configure "$source/configure" "${configure_options[@]}" cflags="$permissive" optflags=-O1 debugflags=-g0 \
  --with-baseruby="$(command -v ruby)" --prefix="$dest" --with-destdir="$work/stage" \
  --disable-install-doc --with-out-ext="$skipped_extensions"
step "building (about 1 minute on 2 cores for Ruby 2.0 for Linux, 3 for the others)"
logged make make -j"$(nproc)"
step "installing"
DEBIAN_DISABLE_RUBYGEMS_INTEGRATION=1 \
  logged install make install-nodoc DESTDIR="$work/stage" "${install_options[@]}"

# mkmf leaves out an extension that does not configure, and RubyGems cannot
# install a gem without these.
for extension in $needed_extensions; do
  ls "$work/stage$dest/lib/ruby/$api_version/"*/"$extension.so" > /dev/null 2>&1 ||
    { grep -i "$extension" "$work/make.log" | tail -n 5; echo "$label: the $extension extension was not built" >&2; exit 1; }
done
# RubyGems 2.0 checksums every gem it installs through OpenSSL::Digest.
install -m 644 "$here/openssl.rb" "$work/stage$dest/lib/ruby/site_ruby/$api_version/openssl.rb"
keep_staged_install
