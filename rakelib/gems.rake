# The gems users get: the precompiled Windows gems, which rake-compiler
# builds with one library for each Windows Ruby of their platform, and the
# gem index lane:
# - test:gem_index, every Ruby installing corsivet by name from one gem
#   index of the source and precompiled gems, and each getting the gem made
#   for it (the Windows Rubies under Wine, as in windows.rake).
require "rubygems/package"
require "zlib"

GEM_INDEX = File.join(BUILD_DIR, "gem-index")

# The precompiled gem for `platform`, as rake-compiler names it.
def windows_gem(platform)
  "pkg/#{GEM_SPEC.name}-#{GEM_SPEC.version}-#{platform}.gem"
end

# Where rake-compiler builds the library for `interpreter`.
def windows_build_dir(interpreter)
  File.join(BUILD_DIR, interpreter.platform, "Corsivet", interpreter.version)
end

# Where rake-compiler stages that library for the gem: in a folder named
# after the Ruby's minor version when it builds for more than one Ruby.
def staged_windows_library(interpreter)
  lib = windows_rubies_compiled_here.size > 1 ? "lib/#{interpreter.short_version}" : "lib"
  File.join(BUILD_DIR, interpreter.platform, "stage", lib, LIBRARY_FILE)
end

# The requirement of a gem that holds a library for `interpreter` alone.
def admitting_only(interpreter)
  [">= #{interpreter.short_version}", "< #{interpreter.short_version.succ}.dev"]
end

# Each library goes into the gem without its debugging information and
# symbol table; the export table, which the interpreter reads, stays.
windows_rubies_compiled_here.each do |interpreter|
  task "copy:Corsivet:#{interpreter.platform}:#{interpreter.version}" do
    library = staged_windows_library(interpreter)
    sh interpreter.cross_tool("strip"), "--strip-all", library
    check_windows_tables(library, interpreter.cross_tool("objdump"))
  end
end

namespace :gem do
  desc "Build the precompiled gems, #{windows_gem('PLATFORM')}, one library per Windows Ruby (RUBY_CC_VERSION picks)"
  task windows: selected_windows_rubies.map(&:executable) do
    here = windows_rubies_compiled_here
    here.map(&:platform).uniq.each do |platform|
      Rake::Task["native:#{platform}"].invoke
      # The gem is packed from this folder, which is made anew only when a
      # file in it changes, not when the Rubies chosen, and so its files, do.
      rm_rf windows_gem(platform).sub(/\.gem\z/, "")
      Rake::Task[windows_gem(platform)].invoke
    end
    elsewhere = selected_windows_rubies - here
    unless elsewhere.empty?
      in_build_root("env", "RUBY_CC_VERSION=#{elsewhere.map(&:version).join(':')}", "rake", "gem:windows")
    end
  end
end

# The precompiled gem of `held`'s platform as it would be built for `held`
# alone, made in `folder`: its library and the requirement that admits its
# Ruby alone.
def windows_gem_holding(held, folder)
  package = Gem::Package.new(File.join(ROOT, windows_gem(held.platform)))
  contents = File.join(folder, "for-#{held.short_version}-alone")
  package.extract_files(contents)
  narrowed = package.spec
  narrowed.files = narrowed.files.reject do |file|
    file =~ %r{\Alib/\d+\.\d+/} && !file.start_with?("lib/#{held.short_version}/")
  end
  narrowed.required_ruby_version = admitting_only(held)
  File.join(contents, Dir.chdir(contents) { Gem::Package.build(narrowed) })
end

namespace :test do
  desc "Every Ruby installs corsivet by name from a gem index of the source and precompiled gems, and gets its own"
  task gem_index: [:gem, "gem:windows", *LINUX_RUBIES.select(&:buildable?).map(&:executable)] do
    rm_rf GEM_INDEX
    platforms = selected_windows_rubies.map(&:platform).uniq
    write_gem_index(GEM_INDEX, [GEM_FILE, *platforms.map { |platform| windows_gem(platform) }])
    selected_windows_rubies.each do |interpreter|
      in_throwaway_wine_prefix do |prefix|
        with_environment("GEM_HOME" => "C:/gems", "GEM_PATH" => nil) do
          sh "wine", *windows_gem_command(interpreter), *INSTALL_FROM_INDEX, "file:///Z:#{GEM_INDEX}/"
          sh "wine", interpreter.executable, "-e", LOAD_AND_ANSWER
        end
        assert_installed(File.join(prefix, "drive_c", "gems"), "#{GEM_SPEC.full_name}-#{interpreter.platform}")
      end
    end
    install_from_gem_index(RbConfig.ruby)
    LINUX_RUBIES.select(&:buildable?).each { |interpreter| install_from_gem_index(interpreter.executable) }
    in_build_root("rake", "test:gem_index:here") if build_root_possible?
  end

  namespace :gem_index do
    # The same for the Ruby running rake, in the build root.
    task(:here) { install_from_gem_index(RbConfig.ruby) }
  end
end

# Writes a gem index of `gem_files` into `folder`, in the layout that
# `gem install --source` reads on every RubyGems since 2.0: the gems under
# gems/, each one's specification (Marshal, deflated) under quick/, and the
# lists of what there is. RubyGems 3.5 moved `gem generate_index` into a gem
# of its own, rubygems-generate_index, which Debian does not package.
def write_gem_index(folder, gem_files)
  marshal = "Marshal.#{Gem.marshal_version}"
  mkdir_p [File.join(folder, "gems"), File.join(folder, "quick", marshal)]
  cp gem_files, File.join(folder, "gems")
  specs = gem_files.map { |file| Gem::Package.new(file).spec }
  specs.each do |spec|
    File.binwrite(File.join(folder, "quick", marshal, "#{spec.full_name}.gemspec.rz"),
                  Zlib::Deflate.deflate(Marshal.dump(spec)))
  end
  tuples = specs.map { |spec| [spec.name, spec.version, spec.original_platform.to_s] }
  prerelease, released = tuples.partition { |_, version, _| version.prerelease? }
  latest = released.group_by { |name, _, platform| [name, platform] }.values.map { |same| same.max_by { |t| t[1] } }
  { "specs" => released, "latest_specs" => latest, "prerelease_specs" => prerelease }.each do |list, entries|
    path = File.join(folder, "#{list}.#{Gem.marshal_version}.gz")
    Zlib::GzipWriter.open(path) { |gz| gz.write(Marshal.dump(entries)) }
  end
end

# What installs corsivet from the index, given after it as a file URL.
INSTALL_FROM_INDEX = ["install", GEM_SPEC.name, "--version", GEM_SPEC.version.to_s, "--no-document",
                      "--clear-sources", "--source"].freeze
LOAD_AND_ANSWER = 'require "corsivet"; puts "#{RUBY_VERSION}: #{Veltrane.commonAppDataPath}"'.freeze

# Installs corsivet from the index with the gem command of the Linux Ruby
# `ruby`, which must build the source gem, and loads it.
def install_from_gem_index(ruby)
  with_empty_gem_home(ruby) do |gem_command, gem_home|
    sh(*gem_command, *INSTALL_FROM_INDEX, "file://#{GEM_INDEX}/")
    sh ruby, "-e", LOAD_AND_ANSWER
    assert_installed(gem_home, GEM_SPEC.full_name)
  end
end

# Fails unless the gem folder `gem_home` holds the gem `expected` alone.
def assert_installed(gem_home, expected)
  installed = Dir[File.join(gem_home, "specifications", "*.gemspec")].map { |spec| File.basename(spec, ".gemspec") }
  installed == [expected] or raise "#{gem_home} holds #{installed.inspect}, not #{expected} alone"
  puts "installed from the index, as it should be: #{expected}"
end
