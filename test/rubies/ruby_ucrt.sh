#!/usr/bin/env bash
# Cross-builds a 64-bit Windows Ruby for the Universal C runtime
# (x64-mingw-ucrt, as RubyInstaller ships every Ruby since 3.1) from its
# release archive and installs it into DEST, for the lanes that load the
# library into it under Wine.
#
#   test/rubies/in_root.sh ROOT test/rubies/ruby_ucrt.sh DEST ARCHIVE
#
# It runs inside the Debian 13 build root, whose apt knows the sources (of
# libyaml) and which has the UCRT cross compiler. As with the other
# recipes, the work happens beside DEST, which appears whole at the end or
# not at all, and the install is staged and checked before it is kept.
set -euo pipefail

dest=$1
ruby_archive=$2
here=$(cd "$(dirname "$0")" && pwd)
# The UCRT toolchain's tools. configure names the platform x64-mingw-ucrt
# only for the mingw32 host when it finds the UCRT runtime, so the host
# stays x86_64-w64-mingw32 and every tool is named here.
tools=x86_64-w64-mingw32ucrt
# Extensions that need libraries this root has no Windows build of, and the
# test-only ones. RubyGems needs zlib, psych and socket.
skipped_extensions='-test-*,bigdecimal,coverage,fiddle,nkf,objspace,openssl,pty,racc/*,readline,ripper,syslog,win32ole'
needed_extensions='zlib psych socket'

work=$(mktemp -d "$dest.partial-XXXXXX")
label="windows ruby $(basename "$ruby_archive" .tar.xz) (ucrt)"
. "$here/steps.sh"

# Unpacks Debian's source package $1 into $work/$1, Debian's patches
# applied. A listed version can be gone
# from the archive (a security update that was superseded), so each is
# tried, newest first.
unpack_source() {
  local name=$1 candidate
  mkdir -p "$work/download-$name"
  for candidate in $(apt-cache showsrc "$name" | sed -n 's/^Version: //p' | sort -rV); do
    if (cd "$work/download-$name" &&
        apt-get -o APT::Sandbox::User=root source --download-only "$name=$candidate") > "$work/download.log" 2>&1; then
      logged "extract-$name" dpkg-source -x "$work/download-$name/${name}_${candidate#*:}.dsc" "$work/$name"
      return 0
    fi
  done
  cat "$work/download.log" >&2
  echo "$label: no source of $name could be downloaded" >&2
  return 1
}

# The interpreter's sources into $source, less the bundled gems, which no
# lane needs (with the list of them emptied, the install does not try to
# download them).
step "unpacking $ruby_archive"
tar -xJf "$ruby_archive" -C "$work"
source=$work/$(basename "$ruby_archive" .tar.xz)
rm -rf "$source/.bundle" "$source/gems/"*.gem
: > "$source/gems/bundled_gems"
step "getting Debian's libyaml source"
unpack_source libyaml

# Ruby's psych no longer bundles libyaml: it links a static one, built here
# from its sources alone (Debian's carries no configure script).
step "building libyaml"
mkdir -p "$work/libyaml/include" "$work/libyaml/lib" "$work/libyaml/objects"
yaml_version_part() { sed -n "s/^m4_define(\[YAML_$1\], \([0-9]*\))/\1/p" "$work/libyaml/configure.ac"; }
yaml_major=$(yaml_version_part MAJOR) yaml_minor=$(yaml_version_part MINOR) yaml_patch=$(yaml_version_part PATCH)
libyaml_version=$yaml_major.$yaml_minor.$yaml_patch
(cd "$work/libyaml/objects" &&
  logged libyaml "$tools-gcc" -c -O2 -DYAML_DECLARE_STATIC -DYAML_VERSION_STRING="\"$libyaml_version\"" \
    -DYAML_VERSION_MAJOR="$yaml_major" -DYAML_VERSION_MINOR="$yaml_minor" -DYAML_VERSION_PATCH="$yaml_patch" \
    -I"$work/libyaml/include" "$work/libyaml/src"/*.c &&
  "$tools-ar" rcs "$work/libyaml/lib/libyaml.a" ./*.o)
# zlib's static library alone in its folder, so that -lz cannot take the
# import library of its DLL.
mkdir -p "$work/zlib/include" "$work/zlib/lib"
cp /usr/x86_64-w64-mingw32/include/zlib.h /usr/x86_64-w64-mingw32/include/zconf.h "$work/zlib/include"
cp /usr/x86_64-w64-mingw32/lib/libz.a "$work/zlib/lib"

# The patches for every UCRT Ruby, and those of this version's folder, which
# every build of it takes (ruby40/ for 4.0.x).
version_part() { sed -n "s/^#define RUBY_API_VERSION_$1 //p" "$source/include/ruby/version.h"; }
for patch in "$here"/ucrt/*.patch "$here/ruby$(version_part MAJOR)$(version_part MINOR)"/*.patch; do
  if [ -e "$patch" ]; then patch --quiet -p1 -d "$source" < "$patch"; fi
done
# The C API's conformance-test extensions are built along with the
# interpreter's own, only to test the interpreter.
find "$source" -path '*/optional/capi/ext/*.c' -delete

mkdir -p "$work/build"
cd "$work/build"
step "configuring for x64-mingw-ucrt"
# Without the stack protector, which would make the interpreter and every
# library built for it import the toolchain's libssp-0.dll. The lanes need a
# working interpreter, not a fast or debuggable one: -O1 and no debugging
# information build in much less time. A Windows Ruby is always
# load-relative, and from 4.0 on takes "/." as its prefix and the prefix
# given as the folder to install into, unless it is given that folder: its
# rbconfig.rb would then lead rake-compiler, which loads a copy of it, to no
# headers.
logged configure env stack_protector=no "$source/configure" --host=x86_64-w64-mingw32 optflags=-O1 debugflags=-g0 \
  CC="$tools-gcc" CXX="$tools-g++" AR="$tools-ar" RANLIB="$tools-ranlib" NM="$tools-nm" \
  OBJDUMP="$tools-objdump" OBJCOPY="$tools-objcopy" STRIP="$tools-strip" WINDRES="$tools-windres" \
  DLLWRAP="$tools-dllwrap" LD="$tools-ld" AS="$tools-as" CPPFLAGS=-DYAML_DECLARE_STATIC \
  --with-baseruby="$(command -v ruby)" --prefix="$dest" --with-destdir="$work/stage" --enable-shared \
  --disable-install-doc \
  --with-libyaml-dir="$work/libyaml" --with-zlib-dir="$work/zlib" --with-out-ext="$skipped_extensions"
grep -q '^arch *= *x64-mingw-ucrt' Makefile || { echo "$label: configure did not find the UCRT runtime" >&2; exit 1; }
step "building (about 4 minutes on 2 cores)"
logged make make -j"$(nproc)" main
step "installing"
# The host's RubyGems installs the default gems; Debian's would put them in
# the host's own gem folder, upstream's puts them under the prefix. The
# lanes need no bundled gem.
DEBIAN_DISABLE_RUBYGEMS_INTEGRATION=1 \
  logged install make install-nodoc DESTDIR="$work/stage" INSTRUBY_OPTS=--exclude=bundled-gems

stage=$work/stage$dest
[ -f "$stage/bin/ruby.exe" ] || { echo "$label: no bin/ruby.exe was installed" >&2; exit 1; }
# mkmf leaves out an extension that does not configure, and RubyGems cannot
# install a gem without these.
for extension in $needed_extensions; do
  ls "$stage/lib/ruby/"*/x64-mingw-ucrt/"$extension.so" > /dev/null 2>&1 ||
    { echo "$label: the $extension extension was not built (see make.log)" >&2; exit 1; }
done
# Ruby 3.4 imports winpthread's DLL, which RubyInstaller, too, ships beside
# the interpreter.
if "$tools-objdump" -p "$stage"/bin/x64-ucrt-ruby*.dll | grep 'DLL Name: libwinpthread-1.dll' > /dev/null; then
  cp "/usr/$tools/lib/libwinpthread-1.dll" "$stage/bin/"
fi
# RubyGems loads openssl even to install a local gem.
api_version=$(ls "$stage/lib/ruby" | grep -E '^[0-9]+\.[0-9]+\.0$')
install -m 644 "$here/openssl.rb" "$stage/lib/ruby/site_ruby/$api_version/openssl.rb"
keep_staged_install
