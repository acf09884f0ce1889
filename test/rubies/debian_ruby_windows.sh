#!/usr/bin/env bash
# Cross-builds a 64-bit Windows Ruby (x64-mingw32) of the host Ruby's version
# from Debian's source package, and installs it into DEST, for the lane that
# loads the library into a real Windows interpreter under Wine.
#
#   test/rubies/debian_ruby_windows.sh DEST
#
# The work happens in a folder beside DEST, and DEST appears, whole, only at
# the end: a build that stopped halfway is never taken for a finished one.
# Nothing outside that folder is written: apt runs with a source list and
# state of its own, and the install is staged and checked before it is kept.
# The rake task names DEST after this file's contents, so changing the recipe
# makes a new build.
set -euo pipefail

dest=$1
host_ruby=$(command -v ruby)
version=$("$host_ruby" -e 'print RUBY_VERSION')
package=ruby${version%.*}
# Extensions the lane does not need, or that lack libraries here; the
# test-only ones take much of the build time.
skipped_extensions='-test-*,bigdecimal,coverage,fiddle,nkf,objspace,openssl,pty,racc/*,readline,ripper,syslog,win32ole'

work=$(mktemp -d "$dest.partial-XXXXXX")
trap 'rm -rf "$work"' EXIT
label="windows ruby $version"
. "$(dirname "$0")/steps.sh"

step "getting Debian's $package source"
apt_state=$work/apt
mkdir -p "$apt_state/lists/partial" "$apt_state/cache/archives/partial" "$work/source"
# The source counterparts of the Debian or Ubuntu archives the machine uses.
apt-get indextargets --format '$(ORIGIN) $(REPO_URI) $(RELEASE) $(COMPONENT)' 'Identifier: Packages' |
  awk '$1 == "Debian" || $1 == "Ubuntu" { print "deb-src", $2, $3, $4 }' | sort -u > "$apt_state/sources.list"
apt_options=(-o "Dir::Etc::SourceList=$apt_state/sources.list" -o Dir::Etc::SourceParts=/dev/null
             -o "Dir::State::Lists=$apt_state/lists" -o "Dir::Cache=$apt_state/cache"
             -o APT::Sandbox::User=root)
logged apt-update apt-get "${apt_options[@]}" update
# A listed version can be gone from the archive (a security update that was
# superseded), so each version of the host's release is tried, newest first.
versions=$(apt-cache "${apt_options[@]}" showsrc "$package" | sed -n 's/^Version: //p' | { grep -F "$version" || true; } | sort -rV)
source=
for candidate in $versions; do
  if (cd "$work/source" && apt-get "${apt_options[@]}" source --download-only "$package=$candidate" \
        > "$work/download.log" 2>&1); then
    # Extracting applies Debian's patches, one of which keeps the build from
    # downloading the bundled gems.
    logged extract dpkg-source -x "$work/source/${package}_${candidate#*:}.dsc" "$work/source/ruby"
    source=$work/source/ruby
    break
  fi
done
[ -n "$source" ] || { cat "$work/download.log"; echo "$label: no $package source for Ruby $version" >&2; exit 1; }
step "using $package $candidate"
# The patches change configure.ac.
(cd "$source" && logged autoconf autoconf)
# The C API's conformance-test extensions are built along with the
# interpreter's own, only to test the interpreter.
rm -f "$source"/spec/ruby/optional/capi/ext/*.c

mkdir -p "$work/build"
cd "$work/build"
step "configuring for x86_64-w64-mingw32"
logged configure "$source/configure" --host=x86_64-w64-mingw32 --with-baseruby="$host_ruby" --prefix="$dest" \
  --enable-shared --disable-install-doc --disable-jit-support --with-out-ext="$skipped_extensions"
step "building (about 10 minutes on 2 cores)"
logged make make -j"$(nproc)" main
step "installing"
# The host's RubyGems installs the default gems. Debian's would put them in
# the host's own gem folder; upstream's puts them under the prefix. The
# bundled gems are not in the source package, and the lane needs none.
DEBIAN_DISABLE_RUBYGEMS_INTEGRATION=1 \
  logged install make install-nodoc DESTDIR="$work/stage" INSTRUBY_OPTS=--exclude=bundled-gems

[ -f "$work/stage$dest/bin/ruby.exe" ] || { echo "$label: no bin/ruby.exe was installed" >&2; exit 1; }
keep_staged_install
