# The Windows lanes, all under Wine in a throwaway prefix, never ~/.wine:
# - test:windows, the CMake build of the library driven by a recorder that
#   stands in for the interpreter, with the native tests;
# - test:windows_ruby, each real Windows Ruby (test/rubies/rubies.rb)
#   installing the precompiled gem of its platform (gems.rake) with its own
#   RubyGems, and the Ruby tests run against it;
# - bench:windows, the per-call cost under each of those Rubies.

WINDOWS_TESTS = File.join(ROOT, "test", "windows")

# Where the lane installs the gem, on drive C: of its prefix: a folder whose
# name has spaces and non-ASCII characters. Ruby 2.0 loads only from folders
# that the ANSI code page can spell, so it gets one that the lane's code page
# (1252, or 1251 for `cyrillic`) can.
def windows_gem_folder(interpreter, cyrillic)
  return "Corsivet lane/Bibliothèque 日本" unless interpreter.ruby20?

  cyrillic ? "Corsivet lane/Библиотека 2.0" : "Corsivet lane/Bibliothèque 2.0"
end

# Runs the block with Wine set to a new prefix that is removed afterwards;
# gives the prefix's folder. The prefix is made whole before anything runs
# in it: the first program Wine starts in a prefix it is still making can
# fail at once, with nothing said (seen once, on a test of the native lane).
# Wine names its files on the host in the locale's character set: with none
# set (a fresh machine or container), a folder with a non-ASCII name cannot
# be made, so the prefix runs in a UTF-8 locale unless a lane sets another.
def in_throwaway_wine_prefix
  Dir.mktmpdir("corsivet-wine-") do |prefix|
    with_environment("WINEPREFIX" => prefix, "WINEDEBUG" => "-all", "LC_ALL" => "C.UTF-8") do
      system("wineboot", "--init", err: File::NULL)
      system("wineserver", "--wait")
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

namespace :bench do
  desc "Measure per-call cost under each Windows Ruby, against Etc.sysconfdir"
  task windows: "gem:windows" do
    selected_windows_rubies.each do |interpreter|
      in_throwaway_wine_prefix do |prefix|
        cp_r benchmark_ips_folder, prefix
        sh "wine", interpreter.executable, "-I", windows_path(prefix), windows_path(BENCH),
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
    in_parallel(selected_windows_rubies) { |interpreter| test_windows_ruby(interpreter) }
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
           windows_path(File.join(ROOT, precompiled_gem(interpreter.platform)))
        sh "wine", interpreter.executable, *minitest_options, "-e", "ARGV.each { |test| require test }",
           *files.map { |test| windows_path(test) }
      end
    end
    run.call({}, tests, false)
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
  folder = IO.popen([*UCRT_ROOT.command("ruby", "-e"),
                     'print Gem::Specification.find_by_name("minitest").full_require_paths.first'], &:read)
  File.join(UCRT_ROOT.home, folder)
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

# Fails unless the gem command refuses `gem` with RubyGems' own word that
# the gem requires another Ruby.
def assert_windows_gem_refused(gem_command, gem, held)
  assert_refused(["wine", *gem_command, "install", "--local", "--no-document", windows_path(gem)],
                 "a gem holding the library for Ruby #{held.version} alone")
end

# Fails unless `command`, which installs `what`, fails with RubyGems' own
# word that it requires another Ruby.
def assert_refused(command, what)
  output = IO.popen(command, err: %i[child out], &:read)
  refused = !$?.success? && output =~ /requires Ruby version/i
  refused or raise "#{what} was not refused as RubyGems refuses a gem for another Ruby:\n#{output}"
  puts "refused, as it should be: #{output.lines.grep(/requires Ruby version/i).first.strip}"
end
