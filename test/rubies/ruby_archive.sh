#!/usr/bin/env bash
# Builds a Ruby from its source archive (ruby-X.Y.Z[-pN].tar.xz) and
# installs it into DEST: for the system it runs on, or cross-built for HOST,
# 64-bit Windows (x86_64-w64-mingw32, Ruby 2.0) or Linux on another CPU
# (aarch64-linux-gnu).
#
#   test/rubies/ruby_archive.sh DEST ARCHIVE [HOST [BASE_RUBY]]
#
# ARCHIVE is checked by the rake task that runs this. BASE_RUBY runs the
# build's own Ruby scripts (a cross build's installer among them); without
# it, the system's Ruby does. Ruby 2.0's archive is an export of the
# release's tag, with no generated files, so autoconf and bison run here,
# and the patches of a version's folder (ruby20/, ruby40/) let that era's
# build run with today's tools; a release archive has its configure script.
# As with the other recipes, the work happens beside DEST, which appears
# whole at the end or not at all.
set -euo pipefail

dest=$1
source_archive=$2
host=${3:-}
base_ruby=${4:-$(command -v ruby)}
here=$(cd "$(dirname "$0")" && pwd)
name=$(basename "$source_archive" .tar.xz)
version=${name#ruby-}
# The version of the library interface, under which Ruby installs its
# libraries ("4.0.0" for 4.0.x), and the folder of this version's patches.
api_version=$(echo "$version" | sed -E 's/^([0-9]+)\.([0-9]+).*/\1.\2.0/')
patches=$here/$(echo "$version" | sed -E 's/^([0-9]+)\.([0-9]+).*/ruby\1\2/')
# RubyGems needs zlib, psych and socket to install a gem, and the lanes no
# more than the extensions those and the tests load. Left out: what needs a
# library the build has none of (Ruby 2.0's openssl needs OpenSSL 1.0, which
# no system here has: no Ruby here needs more of it than the stand-in
# gives), the test-only extensions, and the largest of the rest.
skipped_extensions='-test-*,bigdecimal,coverage,dbm,fiddle,gdbm,nkf,objspace,openssl,pty,racc/*,readline,ripper,syslog,tk,tk/*,win32ole'
needed_extensions='zlib psych socket'
# A cross build names the system it runs on: where binfmt_misc hands the
# host's programs to an emulator, configure would otherwise take the build
# for a native one and run every step under emulation.
build_system=$(gcc -dumpmachine)
case $host in
  *mingw32)
    # Curses has no Windows library here; RubyGems needs dl, whose
    # win32/resolv finds the name servers.
    skipped_extensions+=',curses'
    needed_extensions+=' dl'
    # A Windows Ruby is a DLL and its extensions link to it.
    configure_options=(--build="$build_system" --host="$host" --enable-shared)
    # The installer runs under the base Ruby when cross-compiling: with the
    # build's own library folder on its load path, Ruby 2.0's optparse would
    # be loaded into today's Ruby. The RubyGems and fileutils it loads from
    # the build still call untaint, which Ruby 3.2 removed.
    install_options=(RUNRUBY_COMMAND="\$(MINIRUBY) -r$patches/untaint.rb")
    label="ruby $version for $host" ;;
  *)
    # A static interpreter, as most Linux Rubies are: an extension built for
    # it needs no libruby, and so loads into a shared one too. Found through
    # its own place, wherever the cache is.
    configure_options=(${host:+--build="$build_system" --host="$host"} --disable-shared --enable-load-relative)
    install_options=()
    label="ruby $version${host:+ for $host}" ;;
esac

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
# Of the gems a release bundles, only minitest, which runs the tests, rake,
# which packs the precompiled gems, and benchmark, which the benchmarks load
# where it is no longer a default gem: others build extensions, which take
# time, and which a cross build cannot run.
if [ -f "$source/gems/bundled_gems" ]; then
  find "$source/gems" "$source/.bundle" -mindepth 1 -maxdepth 2 -name '*-[0-9]*' \
    ! -name 'minitest-*' ! -name 'rake-*' ! -name 'benchmark-*' -exec rm -rf {} +
  sed -i -E '/^(minitest|rake|benchmark) /!d' "$source/gems/bundled_gems"
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
  --with-baseruby="$base_ruby" --prefix="$dest" --with-destdir="$work/stage" \
  --disable-install-doc --with-out-ext="$skipped_extensions"
step "building (about 1 minute on 2 cores for Ruby 2.0 for Linux, 2 to 3 for the others)"
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
