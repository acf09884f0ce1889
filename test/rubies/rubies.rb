# The interpreters the lanes load the library into besides the machine's
# own, and the build roots some of them are built in: Windows Rubies
# cross-built here or in a Debian 13 root, the Linux Rubies of the
# precompiled Linux gems built (x86_64) or cross-built (aarch64) in a
# Debian 11 root, and Ruby 2.0 for this machine. Each, and each root, is
# built once by a recipe in this folder and cached outside the clone, named
# after its recipe's files (and an interpreter after its version and
# platform, a root after its suite and packages, too), so that a change to
# any of them makes a new build and every clone on the machine shares it.
# Loaded by the Rakefile; rakelib/rubies.rake has the tasks that build them.
require "digest"
require "fileutils"
require "stringio"
require "yaml"

RUBIES_RECIPES = File.join(ROOT, "test", "rubies")
RUBIES_CACHE = File.join(ENV.fetch("XDG_CACHE_HOME", File.join(Dir.home, ".cache")), "corsivet")

# The source archives of the Rubies, as the folder RUBY_ARCHIVES names holds
# them (.ci/run names ../shared/ruby), and the SHA-256 each must have.
RUBY_ARCHIVES_SHA256 = {
  "ruby-2.0.0-p648.tar.xz" => "1af49194440f2ff748997b3bf1d0c8da8ec48400174b9553fc2d847f12745f50",
  "ruby-3.2.9.tar.xz" => "544c9777045a2885bb7b3c66c3050cd03780c532328387338cc5cc0654ca96a8",
  "ruby-3.3.10.tar.xz" => "641f8225cccf688e1f58138b07e43811f629fa7c85f22e877358a2fc1aba7989",
  "ruby-3.4.8.tar.xz" => "aee9d1013dd959e9f37a736cfa5ef01f87e60d48d2d876112f96f28aa54d41c3",
  "ruby-4.0.0.tar.xz" => "d945955a9992605d1cf973d1354391e6958168d8629bbbdf7eb16a71b0bd3036",
}.freeze

# The first 12 hex digits of the SHA-256 over `files` and any `words`: what
# names a cached build after the recipe that made it.
def recipe_digest(files, words = [])
  digest = Digest::SHA256.new
  files.each { |file| digest << File.binread(file) }
  words.each { |word| digest << word << "\n" }
  digest.hexdigest[0, 12]
end

# A build root: Debian's `suite` with `packages`, made by debian_root.sh and
# entered through in_root.sh alone, with the clone, the cache and the
# archives at the same paths as here. Making and entering one takes root's
# privileges.
BUILD_ROOT_RECIPE = [File.join(RUBIES_RECIPES, "debian_root.sh"), File.join(RUBIES_RECIPES, "steps.sh")].freeze
BuildRoot = Struct.new(:suite, :packages) do
  def home
    File.join(RUBIES_CACHE, "debian-#{suite}-root-#{recipe_digest(BUILD_ROOT_RECIPE, packages)}")
  end

  def possible?
    Process.uid.zero?
  end

  # Whether this process runs in it: in_root.sh says which root it entered.
  def entered?
    ENV["CORSIVET_BUILD_ROOT"] == suite
  end

  # The command line that runs `command` in it.
  def command(*command)
    [File.join(RUBIES_RECIPES, "in_root.sh"), home, *command]
  end
end

# Debian 13, for the UCRT Windows Rubies: Debian 12 has no mingw-w64
# toolchain for the Universal C runtime. It has the cross compiler, zlib and
# the tools that regenerate a configure script and parser (and unpack the
# libyaml source psych links); a Ruby with what building, cross-compiling
# and testing the gem takes, whose RubyGems also packs the Linux gems; and
# CMake, for the check of a Windows library's tables with its binutils.
UCRT_ROOT = BuildRoot.new("trixie", %w[g++-mingw-w64-ucrt64 libz-mingw-w64-dev dpkg-dev autoconf bison make patch
                                       ruby ruby-dev g++ rake rake-compiler ruby-minitest cmake].freeze)
# Debian 11, whose glibc 2.31 is the oldest the archive serves, for the
# precompiled Linux gems: their Rubies are built and their libraries built
# and loaded there. It has a native and an aarch64 cross compiler, and
# zlib and libyaml for both, for RubyGems' zlib and psych; its Ruby 2.7
# runs rake and is the base Ruby of the first Ruby built there.
LINUX_ROOT = BuildRoot.new("bullseye", %w[g++ g++-aarch64-linux-gnu make bison patch xz-utils
                                          zlib1g-dev libyaml-dev zlib1g-dev:arm64 libyaml-dev:arm64
                                          ruby rake rake-compiler].freeze)
BUILD_ROOTS = [UCRT_ROOT, LINUX_ROOT].freeze

# The build root of this interpreter, by its platform, or none.
ROOT_OF_PLATFORM = { "x64-mingw-ucrt" => UCRT_ROOT, "x86_64-linux-gnu" => LINUX_ROOT,
                     "aarch64-linux-gnu" => LINUX_ROOT }.freeze

# The C++ compiler that builds libraries for each platform a precompiled
# gem is made for: mingw-w64's for the msvcrt Windows Rubies up to 3.0 and
# the UCRT ones RubyInstaller ships since 3.1, and GNU's for Linux.
PLATFORM_COMPILERS = {
  "x64-mingw32" => "x86_64-w64-mingw32-g++",
  "x64-mingw-ucrt" => "x86_64-w64-mingw32ucrt-g++",
  "x86_64-linux-gnu" => "x86_64-linux-gnu-g++",
  "aarch64-linux-gnu" => "aarch64-linux-gnu-g++",
}.freeze

# The CPU this machine, and so every build root, runs natively; a Linux
# Ruby for another one is cross-built, and run through qemu-user.
NATIVE_CPU = "x86_64".freeze

# A cached interpreter: where it lives and how it is built. `platform` is
# RubyGems' name for what it runs on, and `source` the release archive it
# is built from. The UCRT Rubies are cross-built by ruby_ucrt.sh, the
# others by ruby_archive.sh, each with the patches of its version's folder
# (ruby40/ for 4.0), and in the build root of its platform where it has one.
CachedRuby = Struct.new(:version, :platform, :source) do
  def home
    File.join(RUBIES_CACHE, "ruby-#{version}-#{platform}-#{recipe_digest(recipe_files, [root ? root.home : ''])}")
  end

  def root
    ROOT_OF_PLATFORM[platform]
  end

  def windows?
    platform.include?("mingw")
  end

  def linux?
    platform.include?("linux")
  end

  def cpu
    platform[/\A[^-]+/].sub("x64", "x86_64")
  end

  # Whether it runs on another CPU than the machine, through qemu-user.
  def emulated?
    cpu != NATIVE_CPU
  end

  # The recipe first, then every other file that shapes the build, the
  # patches of this version's own folder among them.
  def recipe_files
    recipe = platform == "x64-mingw-ucrt" ? UCRT_RUBY_RECIPE : ARCHIVE_RUBY_RECIPE
    [*recipe, *Dir[File.join(RUBIES_RECIPES, "ruby#{short_version.delete('.')}", "*")].sort]
  end

  # The GNU name of the system it is cross-built for, where the recipe does
  # not know it: Windows Ruby 2.0's, or a Linux Ruby's for another CPU.
  def cross_host
    return "x86_64-w64-mingw32" if platform == "x64-mingw32"

    platform if linux? && emulated?
  end

  # The Ruby that runs the build's own Ruby scripts, where the machine's or
  # the root's will not do: a cross build takes the same version built for
  # the machine's CPU; a build in the Linux root, the first Ruby built
  # there, as Ruby 3.4 and later need a newer base Ruby than the root's 2.7.
  def base_ruby
    return nil unless root == LINUX_ROOT

    natives = LINUX_RUBIES.select { |other| other.root == root && !other.emulated? }
    return natives.find { |other| other.version == version } if emulated?

    first = natives.first
    first unless first == self
  end

  # What the recipe takes after DEST: the checked archive, and the host to
  # cross-build for and the base Ruby, where these are not the machine's.
  def recipe_arguments
    return [ruby_archive(source)] if platform == "x64-mingw-ucrt"

    [ruby_archive(source), cross_host.to_s, *(base_ruby ? [base_ruby.executable] : [])]
  end

  def executable
    File.join(home, "bin", windows? ? "ruby.exe" : "ruby")
  end

  # Where its rbconfig.rb will be: under the version of its library
  # interface, which ends in 0 ("3.3.0" for 3.3.8), and its architecture,
  # which for Linux has no -gnu.
  def rbconfig
    File.join(home, "lib", "ruby", version.sub(/\d+\z/, "0"), platform.sub(/-gnu\z/, ""), "rbconfig.rb")
  end

  def name
    "Ruby #{version} for #{platform}"
  end

  # "2.0" for 2.0.0: what the precompiled gem's folders are named after.
  def short_version
    version[/\A\d+\.\d+/]
  end

  def ruby20?
    short_version == "2.0"
  end

  # Whether this machine can build it: its archive must be given
  # (RUBY_ARCHIVES), and a build root needs root's privileges.
  def buildable?
    ENV.key?("RUBY_ARCHIVES") && (!root || root.possible?)
  end

  # Whether a precompiled gem holds a library for it.
  def precompiled?
    PLATFORM_COMPILERS.key?(platform)
  end

  # The C++ compiler that builds libraries for it.
  def cross_compiler
    PLATFORM_COMPILERS.fetch(platform)
  end

  # Another tool of that compiler's binutils, such as "strip".
  def cross_tool(tool)
    cross_compiler.sub(/g\+\+\z/, tool)
  end

  # Whether rake-compiler builds its library in this process: where its
  # compiler is, and for Linux, in its build root alone, whose C library
  # sets the oldest one the library loads with.
  def compiled_here?
    on_path?(cross_compiler) && (!linux? || root.entered?)
  end
end

# The archive `name` in the folder RUBY_ARCHIVES names, checked.
def ruby_archive(name)
  folder = ENV["RUBY_ARCHIVES"].to_s
  archive = File.expand_path(name, folder)
  unless !folder.empty? && File.file?(archive)
    raise "#{name} is needed: set RUBY_ARCHIVES to the folder that holds it, as in " \
          "RUBY_ARCHIVES=#{File.expand_path('../shared/ruby', ROOT)}" \
          "#{" (#{folder.inspect} holds no #{name})" unless folder.empty?}"
  end
  expected = RUBY_ARCHIVES_SHA256.fetch(name)
  actual = Digest::SHA256.file(archive).hexdigest
  actual == expected or raise "#{archive} has SHA-256 #{actual}, not #{expected}"
  archive
end

ARCHIVE_RUBY_RECIPE = %w[ruby_archive.sh steps.sh openssl.rb].map { |file| File.join(RUBIES_RECIPES, file) }.freeze
UCRT_RUBY_RECIPE = [File.join(RUBIES_RECIPES, "ruby_ucrt.sh"), File.join(RUBIES_RECIPES, "steps.sh"),
                    File.join(RUBIES_RECIPES, "openssl.rb"),
                    *Dir[File.join(RUBIES_RECIPES, "ucrt", "*.patch")].sort].freeze

# The releases every precompiled gem since Ruby 3.2 holds a library for, and
# a row of each for `platform`, named by the version of its library
# interface, as rake-compiler names it ("3.3.0" for 3.3.10).
PRECOMPILED_RELEASES = %w[3.2.9 3.3.10 3.4.8 4.0.0].freeze
def releases_for(platform)
  PRECOMPILED_RELEASES.map { |release| CachedRuby.new(release.sub(/\d+\z/, "0"), platform, "ruby-#{release}.tar.xz") }
end

WINDOWS_RUBIES = [CachedRuby.new("2.0.0", "x64-mingw32", "ruby-2.0.0-p648.tar.xz"),
                  *releases_for("x64-mingw-ucrt")].freeze
WINDOWS_PLATFORMS = WINDOWS_RUBIES.map(&:platform).uniq.freeze
# The Linux Rubies: Ruby 2.0, built here, whose own gem command installs
# the source gem; and those of the precompiled Linux gems, each CPU's.
LINUX_RUBIES = [CachedRuby.new("2.0.0", "#{NATIVE_CPU}-linux", "ruby-2.0.0-p648.tar.xz"),
                *releases_for("x86_64-linux-gnu"), *releases_for("aarch64-linux-gnu")].freeze
LINUX_PLATFORMS = LINUX_RUBIES.select(&:precompiled?).map(&:platform).uniq.freeze
PRECOMPILED_RUBIES = (WINDOWS_RUBIES + LINUX_RUBIES).select(&:precompiled?).freeze

# The precompiled Rubies the tasks build for: those that RUBY_CC_VERSION
# names ("2.0.0:3.3.0"), as rake-compiler reads it, or else all that this
# machine can build.
def selected_precompiled_rubies
  versions = ENV["RUBY_CC_VERSION"].to_s.split(":")
  return PRECOMPILED_RUBIES.select(&:buildable?) if versions.empty?

  PRECOMPILED_RUBIES.select { |interpreter| versions.include?(interpreter.version) }
end

def selected_windows_rubies
  selected_precompiled_rubies.select(&:windows?)
end

def selected_linux_rubies
  selected_precompiled_rubies.select(&:linux?)
end

# Those whose library rake-compiler builds in this process; the others are
# built in their build root, which has their compiler.
def rubies_compiled_here
  selected_precompiled_rubies.select(&:compiled_here?)
end

# rake-compiler reads where the cross Rubies are from
# ~/.rake-compiler/config.yml, and from nowhere else. The project writes its
# own file, naming the cached Rubies compiled for here, under build/, and
# has rake-compiler read that one by pointing HOME at it while the block
# defines the tasks: a user's own configuration is neither read nor changed.
# rake-compiler pairs each of those Rubies with each platform, and warns of
# the pairs that do not exist, which here says nothing: those warnings are
# dropped.
def with_cross_rubies_for_rake_compiler
  rubies = rubies_compiled_here
  home = File.join(BUILD_DIR, "rake-compiler")
  config_file = File.join(home, ".rake-compiler", "config.yml")
  config = Hash[rubies.map { |ruby| ["rbconfig-#{ruby.platform}-#{ruby.version}", ruby.rbconfig] }].to_yaml
  unless File.exist?(config_file) && File.read(config_file) == config
    FileUtils.mkdir_p(File.dirname(config_file))
    File.write(config_file, config)
  end
  stderr, $stderr = $stderr, StringIO.new
  begin
    with_environment("HOME" => home, "RUBY_CC_VERSION" => rubies.map(&:version).uniq.join(":")) do
      yield rubies.map(&:platform).uniq
    end
  ensure
    warnings, $stderr = $stderr, stderr
    warnings.string.each_line { |line| $stderr.print(line) unless line.start_with?("no configuration section") }
  end
end
