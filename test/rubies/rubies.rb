# The interpreters the lanes load the library into besides the machine's own:
# Windows Rubies cross-built here, and Ruby 2.0 for this machine. Each is
# built once by a recipe in this folder and cached outside the clone, named
# after its version, its platform and its recipe's files, so that a change
# to any of them makes a new build and every clone on the machine shares it.
# Loaded by the Rakefile; rakelib/rubies.rake has the tasks that build them.
require "digest"
require "fileutils"
require "yaml"

RUBIES_RECIPES = File.join(ROOT, "test", "rubies")
RUBIES_CACHE = File.join(ENV.fetch("XDG_CACHE_HOME", File.join(Dir.home, ".cache")), "corsivet")

RUBY_2_0_ARCHIVE = "ruby-2.0.0-p648.tar.xz".freeze
RUBY_2_0_SHA256 = "1af49194440f2ff748997b3bf1d0c8da8ec48400174b9553fc2d847f12745f50".freeze

# A cached interpreter: where it lives and how it is built.
# The recipe is its first file; `arguments` gives what it takes after DEST.
CachedRuby = Struct.new(:version, :platform, :recipe_files, :arguments) do
  def home
    digest = Digest::SHA256.new
    recipe_files.each { |file| digest << File.binread(file) }
    File.join(RUBIES_CACHE, "ruby-#{version}-#{platform}-#{digest.hexdigest[0, 12]}")
  end

  def windows?
    platform.include?("mingw")
  end

  def executable
    File.join(home, "bin", windows? ? "ruby.exe" : "ruby")
  end

  # Where its rbconfig.rb will be: under the version of its library
  # interface, which ends in 0 ("3.1.0" for 3.1.2).
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
end

# The Ruby 2.0 source archive named by RUBY_2_0_SOURCE, checked.
def ruby_2_0_source
  archive = ENV["RUBY_2_0_SOURCE"].to_s
  if archive.empty? || !File.file?(archive)
    raise "Ruby 2.0 is built from #{RUBY_2_0_ARCHIVE}: set RUBY_2_0_SOURCE to its path, as in " \
          "RUBY_2_0_SOURCE=#{File.expand_path('../shared/ruby', ROOT)}/#{RUBY_2_0_ARCHIVE}" \
          "#{" (#{archive.inspect} is not a file)" unless archive.empty?}"
  end
  actual = Digest::SHA256.file(archive).hexdigest
  actual == RUBY_2_0_SHA256 or raise "#{archive} has SHA-256 #{actual}, not #{RUBY_2_0_SHA256} of #{RUBY_2_0_ARCHIVE}"
  archive
end

# Ruby 2.0 from its archive, with the patches and the stand-in beside it;
# the machine's own Ruby version for Windows from Debian's source package.
RUBY_2_0_RECIPE = [File.join(RUBIES_RECIPES, "ruby20.sh"), File.join(RUBIES_RECIPES, "steps.sh"),
                   *Dir[File.join(RUBIES_RECIPES, "ruby20", "*")].sort].freeze
DEBIAN_RUBY_RECIPE = [File.join(RUBIES_RECIPES, "debian_ruby_windows.sh"), File.join(RUBIES_RECIPES, "steps.sh")].freeze

# RubyGems' and rake-compiler's name for what the Windows Rubies run on.
WINDOWS_PLATFORM = "x64-mingw32".freeze
WINDOWS_RUBIES = [
  CachedRuby.new("2.0.0", WINDOWS_PLATFORM, RUBY_2_0_RECIPE, -> { [ruby_2_0_source, "x86_64-w64-mingw32"] }),
  CachedRuby.new(RUBY_VERSION, WINDOWS_PLATFORM, DEBIAN_RUBY_RECIPE, -> { [] }),
].freeze
LINUX_RUBY_2_0 = CachedRuby.new("2.0.0", RbConfig::CONFIG["arch"], RUBY_2_0_RECIPE, -> { [ruby_2_0_source] })

# rake-compiler reads where the Windows Rubies are from
# ~/.rake-compiler/config.yml, and from nowhere else. The project writes its
# own file, naming the cached Rubies, under build/, and has rake-compiler
# read that one by pointing HOME at it while the block defines the tasks: a
# user's own configuration is neither read nor changed. RUBY_CC_VERSION,
# rake-compiler's choice of Rubies, unset or empty means all of them.
def with_windows_rubies_for_rake_compiler
  home = File.join(BUILD_DIR, "rake-compiler")
  config_file = File.join(home, ".rake-compiler", "config.yml")
  config = Hash[WINDOWS_RUBIES.map { |ruby| ["rbconfig-#{ruby.platform}-#{ruby.version}", ruby.rbconfig] }].to_yaml
  unless File.exist?(config_file) && File.read(config_file) == config
    FileUtils.mkdir_p(File.dirname(config_file))
    File.write(config_file, config)
  end
  versions = ENV["RUBY_CC_VERSION"].to_s
  versions = WINDOWS_RUBIES.map(&:version).join(":") if versions.empty?
  with_environment("HOME" => home, "RUBY_CC_VERSION" => versions) { yield }
end
