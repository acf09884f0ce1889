# Sourced by script/run and script/test: installs the Debian packages the
# project needs, or says exactly how to.

# Packages every build needs.
BUILD_PACKAGES="ruby ruby-dev rake rake-compiler ruby-minitest g++ make binutils"

# Packages the test lanes and the benchmark need on top.
TEST_PACKAGES="cmake libgtest-dev valgrind cppcheck clang-tidy clang-format clang ruby-bundler ruby-benchmark-ips"

# Packages that building the Linux Rubies from their source archives takes:
# Ruby 2.0's configure script and parser are generated, RubyGems needs zlib,
# and Ruby 4.0's psych a libyaml.
RUBY_ARCHIVE_PACKAGES="autoconf bison patch xz-utils zlib1g-dev libyaml-dev"

# Packages of the Windows lanes and the build roots: the cross compiler,
# GoogleTest's sources to build with it, Wine to run the result, and the
# locale sources it needs; what cross-building Windows Ruby 2.0 takes on top
# of the archive packages: its zlib; debootstrap, which makes the build
# roots (test/rubies/rubies.rb lists the packages each has); and qemu-user,
# which runs the Rubies of other CPUs.
WINDOWS_PACKAGES="g++-mingw-w64-x86-64 googletest wine wine64 locales libz-mingw-w64-dev debootstrap qemu-user-static"

# Prints those of the named packages that are not installed.
missing_packages() {
  local package
  for package in "$@"; do
    dpkg-query -W -f='${Status}\n' "$package" 2>/dev/null | grep -q '^install ok installed$' \
      || echo "$package"
  done
}

# Installs the named packages that are missing. As root it runs apt-get;
# otherwise it prints the apt-get line to run and fails.
install_packages() {
  local missing
  missing=$(missing_packages "$@" | tr '\n' ' ')
  [ -z "$missing" ] && return 0
  local command="apt-get install -y --no-install-recommends $missing"
  if [ "$(id -u)" != 0 ]; then
    echo "Missing packages. Install them as root with:" >&2
    echo "  apt-get update && $command" >&2
    return 1
  fi
  echo "Installing: $missing"
  apt-get update -qq && DEBIAN_FRONTEND=noninteractive $command -qq
}

# Installs the npm package `$2`, which gives the command `$1`, where npm puts
# global tools (never into the clone); brings npm itself from Debian where
# the machine has none. Without root it prints the line to run and fails.
install_npm_tool() {
  command -v "$1" > /dev/null && return 0
  command -v npm > /dev/null || install_packages npm || return 1
  if [ "$(id -u)" != 0 ]; then
    echo "Missing $1. Install it as root with:" >&2
    echo "  npm install --global $2" >&2
    return 1
  fi
  echo "Installing: $2 (npm)"
  npm install --global --no-fund --no-audit --loglevel=error "$2"
}
