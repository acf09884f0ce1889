#!/usr/bin/env bash
# Builds Ruby 2.0.0-p648 from its source archive, for this machine or
# cross-built for 64-bit Windows (x64-mingw32), and installs it into DEST.
#
#   test/rubies/ruby20.sh DEST SOURCE [x86_64-w64-mingw32]
#
# SOURCE is the archive of the release's tag (checked by the rake task that
# runs this); it has no generated files, so autoconf and bison run here, with
# the machine's Ruby as the base Ruby. The patches beside this file let that
# era's build run with today's tools. As with the other recipe, the work
# happens beside DEST, which appears whole at the end or not at all.
set -euo pipefail

dest=$1
source_archive=$2
host=${3:-}
here=$(cd "$(dirname "$0")" && pwd)
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
  install_options=(RUNRUBY_COMMAND="\$(MINIRUBY) -r$here/ruby20/untaint.rb")
  label="ruby 2.0 for $host"
else
  # Ruby 2.0's openssl extension needs OpenSSL 1.0, which Debian 12 lacks.
  skipped_extensions='openssl'
  needed_extensions='zlib psych socket'
  # Found through its own place, wherever the cache is.
  configure_options=(--enable-shared --enable-load-relative)
  install_options=()
  label="ruby 2.0"
fi

work=$(mktemp -d "$dest.partial-XXXXXX")
. "$here/steps.sh"

step "unpacking $source_archive"
tar -xJf "$source_archive" -C "$work"
source=$work/ruby-2.0.0-p648
for patch in "$here"/ruby20/*.patch; do
  patch --quiet -p1 -d "$source" < "$patch"
done
(cd "$source" && logged autoconf autoconf)

mkdir -p "$work/build"
cd "$work/build"
step "configuring"
# Ruby 2.0's C, and the checks its extensions make, call functions they
# never declare, which GCC 14 makes errors by default: warnings again, as
# GCC 12 has them. Ruby's own C flags go after these, in its C flags alone.
permissive='-Wno-error=implicit-function-declaration -Wno-error=implicit-int -Wno-error=int-conversion'
permissive+=' -Wno-error=incompatible-pointer-types'
logged configure "$source/configure" "${configure_options[@]}" cflags="$permissive" \
  --with-baseruby="$(command -v ruby)" \
  --prefix="$dest" --disable-install-doc --with-out-ext="$skipped_extensions"
step "building (about 4 minutes on 2 cores)"
logged make make -j"$(nproc)"
step "installing"
DEBIAN_DISABLE_RUBYGEMS_INTEGRATION=1 \
  logged install make install-nodoc DESTDIR="$work/stage" "${install_options[@]}"

# mkmf leaves out an extension that does not configure, and RubyGems cannot
# install a gem without these.
for extension in $needed_extensions; do
  ls "$work/stage$dest/lib/ruby/2.0.0/"*/"$extension.so" > /dev/null 2>&1 ||
    { grep -i "$extension" "$work/make.log" | tail -n 5; echo "$label: the $extension extension was not built" >&2; exit 1; }
done
# RubyGems 2.0 checksums every gem it installs through OpenSSL::Digest.
install -m 644 "$here/openssl.rb" "$work/stage$dest/lib/ruby/site_ruby/2.0.0/openssl.rb"
keep_staged_install
