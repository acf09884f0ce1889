# The interpreters the lanes load the library into besides the machine's own:
# Windows Rubies cross-built here or in a Debian 13 build root, and Ruby 2.0
# and 4.0 for this machine. Each, and the root, is built once by a recipe in this
# folder and cached outside the clone, named after its recipe's files (and an
# interpreter after its version and platform too), so that a change to any
# of them makes a new build and every clone on the machine shares it.
# Loaded by the Rakefile; rakelib/rubies.rake has the tasks that build them.
require "digest"
require "fileutils"
require "stringio"
require "yaml"

RUBIES_RECIPES = File.join(ROOT, "test", "rubies")
RUBIES_CACHE = File.join(ENV.fetch("XDG_CACHE_HOME", File.join(Dir.home, ".cache")), "corsivet")

# The source archives of the Rubies no Debian suite has, as the folder
# RUBY_ARCHIVES names holds them (.ci/run names ../shared/ruby), and the
# SHA-256 each must have.
RUBY_ARCHIVES_SHA256 = {
  "ruby-2.0.0-p648.tar.xz" => "1af49194440f2ff748997b3bf1d0c8da8ec48400174b9553fc2d847f12745f50",
  "ruby-3.2.9.tar.xz" => "544c9777045a2885bb7b3c66c3050cd03780c532328387338cc5cc0654ca96a8",
  "ruby-4.0.0.tar.xz" => "d945955a9992605d1cf973d1354391e6958168d8629bbbdf7eb16a71b0bd3036",
}.freeze

# The first 12 hex digits of the SHA-256 over `files`: what names a cached
# build after the recipe that made it.
def recipe_digest(files)
  digest = Digest::SHA256.new
  files.each { |file| digest << File.binread(file) }
  digest.hexdigest[0, 12]
end

# The Debian 13 build root that the UCRT Rubies are built in, cached as the
# Rubies are; test/rubies/in_root.sh runs a command in it.
BUILD_ROOT_RECIPE = [File.join(RUBIES_RECIPES, "debian13_root.sh"), File.join(RUBIES_RECIPES, "steps.sh")].freeze
BUILD_ROOT = File.join(RUBIES_CACHE, "debian-13-root-#{recipe_digest(BUILD_ROOT_RECIPE)}")

# Making and entering the build root takes root's privileges.
def build_root_possible?
  Process.uid.zero?
end

# Runs `command` in the build root, with the clone and the cache at the
# same paths as here.
def in_build_root(*command)
  sh File.join(RUBIES_RECIPES, "in_root.sh"), BUILD_ROOT, *command
end

# A cached interpreter: where it lives and how it is built. `source` is
# the release archive it is built from, or the Debian source package. The
# UCRT Rubies are cross-built in the build root by ruby_ucrt.sh, the others
# here by ruby_archive.sh, with the patches of their version's folder.
CachedRuby = Struct.new(:version, :platform, :source) do
  def home
    File.join(RUBIES_CACHE, "ruby-#{version}-#{platform}-#{recipe_digest(recipe_files)}")
  end

  def windows?
    platform.include?("mingw")
  end

  def built_in_root?
    platform == "x64-mingw-ucrt"
  end

  def archive?
    source.end_with?(".tar.xz")
  end

  # The recipe first, then every other file that shapes the build, the
  # patches of this version's own folder among them.
  def recipe_files
    if built_in_root?
      [*UCRT_RUBY_RECIPE, *Dir[File.join(RUBIES_RECIPES, "ucrt", short_version, "*")].sort]
    else
      patches = Dir[File.join(RUBIES_RECIPES, "ruby#{short_version.delete('.')}", "*")].sort
      [File.join(RUBIES_RECIPES, "ruby_archive.sh"), File.join(RUBIES_RECIPES, "steps.sh"),
       File.join(RUBIES_RECIPES, "openssl.rb"), *patches]
    end
  end

  # What the recipe takes after DEST: the checked archive or the package,
  # and the host to cross-build for, where the recipe does not know it.
  def recipe_arguments
    [archive? ? ruby_archive(source) : source, *("x86_64-w64-mingw32" if platform == "x64-mingw32")]
  end

  def executable
    File.join(home, "bin", windows? ? "ruby.exe" : "ruby")
  end

  # Where its rbconfig.rb will be: under the version of its library
  # interface, which ends in 0 ("3.3.0" for 3.3.8).
  def rbconfig
    File.join(home, "lib", "ruby", version.sub(/\d+\z/, "0"), platform, "rbconfig.rb")
  end

  # "2.0" for 2.0.0: what the precompiled gem's folders are named after.
  def short_version
    version[/\A\d+\.\d+/]
  end

  def ruby20?
    short_version == "2.0"
  end

  # Whether this machine can build it: an archive must be given
  # (RUBY_ARCHIVES), and the build root needs root's privileges.
  def buildable?
    (!archive? || ENV.key?("RUBY_ARCHIVES")) && (!built_in_root? || build_root_possible?)
  end

  # The C++ compiler that builds libraries for it.
  def cross_compiler
    WINDOWS_COMPILERS.fetch(platform)
  end

  # Another tool of that compiler's binutils, such as "strip".
  def cross_tool(tool)
    cross_compiler.sub(/g\+\+\z/, tool)
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

UCRT_RUBY_RECIPE = [File.join(RUBIES_RECIPES, "ruby_ucrt.sh"), File.join(RUBIES_RECIPES, "openssl.rb"),
                    *Dir[File.join(RUBIES_RECIPES, "ucrt", "*.patch")].sort, *BUILD_ROOT_RECIPE].freeze

# RubyGems' and rake-compiler's names for what the Windows Rubies run on:
# the msvcrt Rubies up to 3.0, and the UCRT ones RubyInstaller ships since
# 3.1; and the mingw-w64 compiler of each.
WINDOWS_COMPILERS = {
  "x64-mingw32" => "x86_64-w64-mingw32-g++",
  "x64-mingw-ucrt" => "x86_64-w64-mingw32ucrt-g++",
}.freeze
# A UCRT Ruby's version is that of its library interface: from a Debian
# package, the recipe takes the newest source the archive serves.
WINDOWS_RUBIES = [
  CachedRuby.new("2.0.0", "x64-mingw32", "ruby-2.0.0-p648.tar.xz"),
  CachedRuby.new("3.2.0", "x64-mingw-ucrt", "ruby-3.2.9.tar.xz"),
  CachedRuby.new("3.3.0", "x64-mingw-ucrt", "ruby3.3"),
  CachedRuby.new("3.4.0", "x64-mingw-ucrt", "ruby3.4"),
  CachedRuby.new("4.0.0", "x64-mingw-ucrt", "ruby-4.0.0.tar.xz"),
].freeze
WINDOWS_PLATFORMS = WINDOWS_RUBIES.map(&:platform).uniq.freeze
# The Linux Rubies built here, whose own gem command installs the source gem.
LINUX_RUBIES = [
  CachedRuby.new("2.0.0", RbConfig::CONFIG["arch"], "ruby-2.0.0-p648.tar.xz"),
  CachedRuby.new("4.0.0", RbConfig::CONFIG["arch"], "ruby-4.0.0.tar.xz"),
].freeze
# The Windows Rubies the tasks build for: those that RUBY_CC_VERSION names
# ("2.0.0:3.3.0"), as rake-compiler reads it, or else all that this machine
# can build.
def selected_windows_rubies
  versions = ENV["RUBY_CC_VERSION"].to_s.split(":")
  return WINDOWS_RUBIES.select(&:buildable?) if versions.empty?

  WINDOWS_RUBIES.select { |interpreter| versions.include?(interpreter.version) }
end

# Those of them whose compiler this machine has: rake-compiler builds for
# these here, and for the others in the build root, which has theirs.
def windows_rubies_compiled_here
  selected_windows_rubies.select { |interpreter| on_path?(interpreter.cross_compiler) }
end

# rake-compiler reads where the Windows Rubies are from
# ~/.rake-compiler/config.yml, and from nowhere else. The project writes its
# own file, naming the cached Rubies compiled for here, under build/, and
# has rake-compiler read that one by pointing HOME at it while the block
# defines the tasks: a user's own configuration is neither read nor changed.
# rake-compiler pairs each of those Rubies with each Windows platform, and
# warns of the pairs that do not exist, which here says nothing: those
# warnings are dropped.
def with_windows_rubies_for_rake_compiler
  rubies = windows_rubies_compiled_here
  home = File.join(BUILD_DIR, "rake-compiler")
  config_file = File.join(home, ".rake-compiler", "config.yml")
  config = Hash[rubies.map { |ruby| ["rbconfig-#{ruby.platform}-#{ruby.version}", ruby.rbconfig] }].to_yaml
  unless File.exist?(config_file) && File.read(config_file) == config
    FileUtils.mkdir_p(File.dirname(config_file))
    File.write(config_file, config)
  end
  stderr, $stderr = $stderr, StringIO.new
  begin
    with_environment("HOME" => home, "RUBY_CC_VERSION" => rubies.map(&:version).join(":")) { yield }
  ensure
    warnings, $stderr = $stderr, stderr
    warnings.string.each_line { |line| $stderr.print(line) unless line.start_with?("no configuration section") }
  end
end
