# The Windows lanes, both under Wine in a throwaway prefix, never ~/.wine:
# - test:windows, the CMake build of the library driven by a recorder that
#   stands in for the interpreter, with the native tests;
# - test:windows_ruby, the gem's own mkmf build loaded into each real Windows
#   Ruby (2.0 and the machine's own version), cross-built once and cached
#   outside the clone (rakelib/rubies.rake).
WINDOWS_TESTS = File.join(ROOT, "test", "windows")

# The Windows Rubies the tasks here build for and test: all of them, or
# those that RUBY_CC_VERSION names, as rake-compiler reads it ("2.0.0:3.1.2").
def selected_windows_rubies
  versions = ENV["RUBY_CC_VERSION"].to_s.split(":")
  return WINDOWS_RUBIES if versions.empty?

  WINDOWS_RUBIES.select { |interpreter| versions.include?(interpreter.version) }
end

# Where the library built for `interpreter` goes.
def windows_build_dir(interpreter)
  File.join(BUILD_DIR, "x64-mingw32", interpreter.short_version)
end

# Where the Ruby lane puts the library, on drive C: of its prefix: a folder
# whose name has spaces and non-ASCII characters. Ruby 2.0 loads only from
# folders that the ANSI code page can spell, so it gets one that the lane's
# code page (1252, or 1251 for `cyrillic`) can.
def windows_library_folder(interpreter, cyrillic)
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


namespace :compile do
  desc "Build the extension for each Windows Ruby, through that Ruby's own mkmf (RUBY_CC_VERSION picks)"
  task windows: selected_windows_rubies.map(&:executable) do
    selected_windows_rubies.each do |interpreter|
      # mkmf writes a Makefile for the interpreter whose rbconfig.rb it finds:
      # the target's library folders come first on the load path, so its own
      # mkmf.rb and rbconfig.rb are loaded, and the preamble makes the host
      # Ruby pass for it, as native gems are cross-compiled. The host Ruby
      # runs what the Makefile runs in Ruby.
      build_extension(windows_build_dir(interpreter), "--enable-werror", "--ruby=#{RbConfig.ruby}",
                      ruby_command: [RbConfig.ruby, "--disable-gems", "-I", File.dirname(interpreter.archdir),
                                     "-I", interpreter.archdir, "-r", File.join(WINDOWS_TESTS, "target_platform.rb")])
    end
  end
end

namespace :bench do
  desc "Measure per-call cost under each Windows Ruby, against Etc.sysconfdir"
  task windows: "compile:windows" do
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

  desc "Load the gem's Windows build into each Windows Ruby under Wine and run the Ruby tests"
  task windows_ruby: "compile:windows" do
    selected_windows_rubies.each { |interpreter| test_windows_ruby(interpreter) }
  end
end

# Checks the tables of the library built for `interpreter`, then runs the
# Ruby tests under it, and the folder tests once more under code page 1251.
def test_windows_ruby(interpreter)
  library = File.join(windows_build_dir(interpreter), LIBRARY_FILE)
  sh "cmake", "-DOBJDUMP=x86_64-w64-mingw32-objdump", "-DLIBRARY=#{library}",
     "-DEXPECTED=Init_Corsivet", "-P", File.join(WINDOWS_TESTS, "check_tables.cmake")
  # Ruby 2.0 has minitest 4 in its own library; the later build has none.
  minitest = Gem::Specification.find_by_name("minitest").full_require_paths.first
  minitest_options = interpreter.ruby20? ? [] : ["-I", windows_path(minitest)]
  tests = RUBY_TESTS + [File.join(WINDOWS_TESTS, "test_common_app_data.rb")]
  in_throwaway_wine_prefix do |prefix|
    run = lambda do |environment, files, cyrillic|
      # Installed as a gem lays it out: the library beside the gem's file.
      folder = windows_library_folder(interpreter, cyrillic)
      mkdir_p File.join(prefix, "drive_c", folder)
      cp [library, File.join(ROOT, "lib", "corsivet.rb")], File.join(prefix, "drive_c", folder)
      with_environment(environment) do
        sh "wine", interpreter.executable, *minitest_options, "-I", "C:/#{folder}",
           "-e", "ARGV.each { |test| require test }", *files.map { |test| windows_path(test) }
      end
    end
    run.call({ "LC_ALL" => "C.UTF-8" }, tests, false)
    # Once more where the ANSI code page cannot spell most of the folders.
    run.call(russian_locale(prefix).merge("EXPECTED_ANSI_CODE_PAGE" => "1251"), tests.last(1), true)
  end
end
