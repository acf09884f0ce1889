# The interpreters the lanes load the library into besides the machine's own:
# Windows Rubies cross-built here, and Ruby 2.0 for this machine. Each is
# built once by a recipe in test/rubies and cached outside the clone, named
# after its version, its platform and its recipe's files, so that a change
# to any of them makes a new build and every clone on the machine shares it.
require "digest"

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

  # The folder of its rbconfig.rb, which is also where mkmf.rb's platform
  # files are found.
  def archdir
    File.dirname(Dir[File.join(home, "lib", "ruby", "*", "*", "rbconfig.rb")].first)
  end

  # "2.0" for 2.0.0: what build folders are named after.
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

WINDOWS_RUBIES = [
  CachedRuby.new("2.0.0", "x64-mingw32", RUBY_2_0_RECIPE, -> { [ruby_2_0_source, "x86_64-w64-mingw32"] }),
  CachedRuby.new(RUBY_VERSION, "x64-mingw32", DEBIAN_RUBY_RECIPE, -> { [] }),
].freeze
LINUX_RUBY_2_0 = CachedRuby.new("2.0.0", RbConfig::CONFIG["arch"], RUBY_2_0_RECIPE, -> { [ruby_2_0_source] })

[*WINDOWS_RUBIES, LINUX_RUBY_2_0].each do |interpreter|
  file interpreter.executable do
    mkdir_p RUBIES_CACHE
    sh "bash", interpreter.recipe_files.first, interpreter.home, *interpreter.arguments.call
  end
end

namespace :rubies do
  desc "Build the Windows Rubies (2.0 and #{RUBY_VERSION}), once, into #{RUBIES_CACHE}"
  task windows: WINDOWS_RUBIES.map(&:executable)

  desc "Build Ruby 2.0 for this machine, once, into #{RUBIES_CACHE}"
  task linux: LINUX_RUBY_2_0.executable
end

namespace :test do
  desc "Install the gem with Ruby 2.0's own gem command and run the Ruby tests against it (Ruby 2.0 built once)"
  task ruby20: [:gem, LINUX_RUBY_2_0.executable] do
    ruby = LINUX_RUBY_2_0.executable
    Dir.mktmpdir("corsivet-ruby20-") do |gem_home|
      # RubyGems 2.0 builds the extension with Ruby 2.0's mkmf, as a user's
      # install does, and the tests find it through RubyGems, with no -I.
      with_environment("GEM_HOME" => gem_home, "GEM_PATH" => gem_home, "RUBYLIB" => nil, "RUBYOPT" => nil) do
        sh ruby, File.join(LINUX_RUBY_2_0.home, "bin", "gem"), "install", "--local", "--no-document", GEM_FILE
        library = Dir[File.join(gem_home, "gems", "*", "lib", LIBRARY_FILE)].first
        needed = `readelf --dynamic #{library}`.scan(/\(NEEDED\).*\[(.+)\]/).flatten
        needed.grep(/libstdc\+\+|libgcc_s/).empty? or raise "#{library} needs the shared C++ runtime: #{needed.join(' ')}"
        sh ruby, "-e", "ARGV.each { |test| require test }", *RUBY_TESTS
      end
    end
  end
end
