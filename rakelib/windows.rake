# The precompiled Windows gems, and the Windows lanes, all under Wine in a
# throwaway prefix, never ~/.wine:
# - test:windows, the CMake build of the library driven by a recorder that
#   stands in for the interpreter, with the native tests;
# - test:windows_ruby, each real Windows Ruby (test/rubies/rubies.rb)
#   installing the precompiled gem of its platform with its own RubyGems,
#   and the Ruby tests run against it;
# - test:gem_index, every Ruby installing corsivet by name from one gem
#   index, and each getting the gem made for it.
require "rubygems/package"
require "zlib"

WINDOWS_TESTS = File.join(ROOT, "test", "windows")
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

# Where the lane installs the gem, on drive C: of its prefix: a folder whose
# name has spaces and non-ASCII characters. Ruby 2.0 loads only from folders
# that the ANSI code page can spell, so it gets one that the lane's code page
# (1252, or 1251 for `cyrillic`) can.
def windows_gem_folder(interpreter, cyrillic)
  return "Corsivet lane/Bibliothèque 日本" unless interpreter.ruby20?

  cyrillic ? "Corsivet lane/Библиотека 2.0" : "Corsivet lane/Bibliothèque 2.0"
end

# Runs the block with Wine set to a new prefix that is removed afterwards;
# gives the prefix's folder.
def in_throwaway_wine_prefix
  Dir.mktmpdir("corsivet-wine-") do |prefix|
    with_environment("WINEPREFIX" => prefix, "WINEDEBUG" => "-all") do
      yield prefix
    ensure
      system("wineserver", "-k") # ends the prefix's server so the folder can go
    end
  end
end

# A path on this machine as the Windows interpreter sees it: Wine maps the
# root folder to drive Z:.
def windows_path(path)
  "Z:#{path}"
end

# Builds the Russian locale into `folder`, for Wine to take code page 1251
# from, and gives the environment that selects it.
def russian_locale(folder)
  sh "localedef", "-i", "ru_RU", "-f", "UTF-8", File.join(folder, "ru_RU.UTF-8") do |ok, _|
    ok or raise "localedef could not make ru_RU.UTF-8 (Debian package locales)"
  end
  { "LOCPATH" => folder, "LC_ALL" => "ru_RU.UTF-8" }
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

namespace :bench do
  desc "Measure per-call cost under each Windows Ruby, against Etc.sysconfdir"
  task windows: "gem:windows" do
    # Debian keeps benchmark-ips among libraries meant for the host Ruby
    # alone, so only its own folder is handed over.
    benchmark_ips = File.dirname($LOAD_PATH.resolve_feature_path("benchmark/ips").last)
    selected_windows_rubies.each do |interpreter|
      in_throwaway_wine_prefix do |prefix|
        cp_r benchmark_ips, prefix
        sh "wine", interpreter.executable, "-I", windows_path(prefix), windows_path(File.join(ROOT, "bench", "bench.rb")),
           windows_path(windows_build_dir(interpreter))
      end
    end
  end
end

namespace :test do
  desc "Cross-compile for 64-bit Windows (mingw-w64) and run the tests under Wine"
  task :windows do
    in_throwaway_wine_prefix do
      run_native_tests(File.join(BUILD_DIR, "windows"),
                       "-DCMAKE_TOOLCHAIN_FILE=#{File.join(WINDOWS_TESTS, 'mingw-w64.cmake')}")
    end
  end

  desc "Install the precompiled gem with each Windows Ruby's own RubyGems under Wine, and run the Ruby tests"
  task windows_ruby: "gem:windows" do
    selected_windows_rubies.each { |interpreter| test_windows_ruby(interpreter) }
  end
end

# As a Windows user installs it: with `interpreter`'s own gem command, in a
# new prefix whose path has no compiler on it. Checks the installed
# library's tables, runs the Ruby tests against the installed gem, and the
# folder tests once more under code page 1251; then has the interpreter
# refuse a gem that holds no library for it.
def test_windows_ruby(interpreter)
  gem_command = windows_gem_command(interpreter)
  # Ruby 2.0 has minitest 4 in its own library; the UCRT Rubies, built
  # without their bundled gems, have none, and take the build root's.
  minitest_options = interpreter.ruby20? ? [] : ["-I", windows_path(build_root_minitest)]
  tests = RUBY_TESTS + [File.join(WINDOWS_TESTS, "test_common_app_data.rb")]
  in_throwaway_wine_prefix do |prefix|
    sh "wine", interpreter.executable, "-e", NO_COMPILER_ON_THE_PATH
    run = lambda do |environment, files, cyrillic|
      gem_home = "C:/#{windows_gem_folder(interpreter, cyrillic)}"
      with_environment(environment.merge("GEM_HOME" => gem_home, "GEM_PATH" => gem_home)) do
        sh "wine", *gem_command, "install", "--local", "--no-document",
           windows_path(File.join(ROOT, windows_gem(interpreter.platform)))
        sh "wine", interpreter.executable, *minitest_options, "-e", "ARGV.each { |test| require test }",
           *files.map { |test| windows_path(test) }
      end
    end
    run.call({ "LC_ALL" => "C.UTF-8" }, tests, false)
    installed = Dir[File.join(prefix, "drive_c", windows_gem_folder(interpreter, false), "gems", "*", "lib", "**",
                              LIBRARY_FILE)]
    check_windows_tables(installed.find { |library| library.include?("/#{interpreter.short_version}/") } ||
                         installed.first)
    # Once more where the ANSI code page cannot spell most of the folders.
    run.call(russian_locale(prefix).merge("EXPECTED_ANSI_CODE_PAGE" => "1251"), tests.last(1), true)
    selected_windows_rubies.reject { |other| other == interpreter }.each do |other|
      assert_windows_gem_refused(gem_command, windows_gem_holding(other, prefix), other)
    end
  end
end

# Where the build root keeps minitest, as seen from here: a minitest as new
# as the Rubies built there (Ruby 3.4 no longer has the mutex_m that older
# ones load).
def build_root_minitest
  folder = IO.popen([File.join(RUBIES_RECIPES, "in_root.sh"), BUILD_ROOT, "ruby", "-e",
                     'print Gem::Specification.find_by_name("minitest").full_require_paths.first'], &:read)
  File.join(BUILD_ROOT, folder)
end

# `interpreter`'s own gem command, run as its batch file runs it.
def windows_gem_command(interpreter)
  [interpreter.executable, "-x", windows_path(Dir[File.join(interpreter.home, "bin", "gem.{bat,cmd}")].first)]
end

# Run by the Windows Ruby: fails when a C or C++ compiler or make is on the
# path its programs see.
NO_COMPILER_ON_THE_PATH = <<~'RUBY'.freeze
  found = ENV["PATH"].split(";").product(%w[gcc.exe g++.exe cc.exe make.exe]).map { |pair| File.join(*pair) }
  found.select! { |tool| File.exist?(tool) }
  abort "a compiler is on the path: #{found.join(', ')}" unless found.empty?
RUBY

# Fails unless `library` exports Init_Corsivet alone and imports only the
# interpreter's DLL and Windows' own, as `objdump` reads them.
def check_windows_tables(library, objdump = "x86_64-w64-mingw32-objdump")
  sh "cmake", "-DOBJDUMP=#{objdump}", "-DLIBRARY=#{library}",
     "-DEXPECTED=Init_Corsivet", "-P", File.join(WINDOWS_TESTS, "check_tables.cmake")
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

# Fails unless the gem command refuses `gem` with RubyGems' own word that
# the gem requires another Ruby.
def assert_windows_gem_refused(gem_command, gem, held)
  output = IO.popen(["wine", *gem_command, "install", "--local", "--no-document", windows_path(gem)],
                    err: %i[child out], &:read)
  refused = !$?.success? && output =~ /requires Ruby version/i
  refused or raise "a gem holding the library for Ruby #{held.version} alone was not refused as RubyGems refuses " \
                   "one for another Ruby:\n#{output}"
  puts "refused, as it should be: #{output.lines.grep(/requires Ruby version/i).first.strip}"
end

namespace :test do
  desc "Every Ruby installs corsivet by name from a gem index of the source and precompiled gems, and gets its own"
  task gem_index: [:gem, "gem:windows", *(LINUX_RUBY_2_0.executable if LINUX_RUBY_2_0.buildable?)] do
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
    install_from_gem_index(LINUX_RUBY_2_0.executable) if LINUX_RUBY_2_0.buildable?
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
