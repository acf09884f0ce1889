# The Windows lanes, both under Wine in a throwaway prefix, never ~/.wine:
# - test:windows, the CMake build of the library driven by a recorder that
#   stands in for the interpreter, with the native tests;
# - test:windows_ruby, the gem's own mkmf build loaded into a real Windows
#   Ruby, cross-built from Debian's source once and cached outside the clone.
require "digest"

WINDOWS_TESTS = File.join(ROOT, "test", "windows")
WINDOWS_RUBY_RECIPE = File.join(WINDOWS_TESTS, "build_ruby.sh")
# Named after the Ruby version and the recipe, so a change to either makes a
# new build, and every clone on the machine shares it.
WINDOWS_RUBY = File.join(ENV.fetch("XDG_CACHE_HOME", File.join(Dir.home, ".cache")), "corsivet",
                         "ruby-#{RUBY_VERSION}-x64-mingw32-#{Digest::SHA256.file(WINDOWS_RUBY_RECIPE).hexdigest[0, 12]}")
WINDOWS_RUBY_EXE = File.join(WINDOWS_RUBY, "bin", "ruby.exe")
WINDOWS_BUILD_DIR = File.join(BUILD_DIR, "x64-mingw32")
WINDOWS_LIBRARY = File.join(WINDOWS_BUILD_DIR, LIBRARY_FILE)
# Where the Ruby lane puts the library, on drive C: of its prefix: a folder
# whose name has spaces and non-ASCII characters.
WINDOWS_LIBRARY_FOLDER = "Corsivet lane/Bibliothèque 日本"

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

file WINDOWS_RUBY_EXE do
  mkdir_p File.dirname(WINDOWS_RUBY)
  sh "bash", WINDOWS_RUBY_RECIPE, WINDOWS_RUBY
end

namespace :windows do
  desc "Cross-build a Windows Ruby from Debian's source, once, into #{File.dirname(WINDOWS_RUBY)}"
  task ruby: WINDOWS_RUBY_EXE
end

namespace :compile do
  desc "Build the extension for Windows with mkmf set up for the cached Windows Ruby"
  task windows: "windows:ruby" do
    # mkmf writes a Makefile for the interpreter whose rbconfig.rb it finds;
    # the Windows one comes first on the load path, and the preamble makes
    # the host Ruby pass for it, as native gems are cross-compiled.
    target_rbconfig = Dir[File.join(WINDOWS_RUBY, "lib", "ruby", "*", "*", "rbconfig.rb")].first
    build_extension(WINDOWS_BUILD_DIR, "--enable-werror",
                    ruby_command: [RbConfig.ruby, "--disable-gems", "-I", File.dirname(target_rbconfig),
                                   "-r", File.join(WINDOWS_TESTS, "target_platform.rb")])
  end
end

namespace :bench do
  desc "Measure per-call cost under the Windows Ruby, against Etc.sysconfdir"
  task windows: "compile:windows" do
    # Debian keeps benchmark-ips among libraries meant for the host Ruby
    # alone, so only its own folder is handed over.
    benchmark_ips = File.dirname($LOAD_PATH.resolve_feature_path("benchmark/ips").last)
    in_throwaway_wine_prefix do |prefix|
      cp_r benchmark_ips, prefix
      sh "wine", WINDOWS_RUBY_EXE, "-I", windows_path(prefix), windows_path(File.join(ROOT, "bench", "bench.rb")),
         windows_path(WINDOWS_BUILD_DIR)
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

  desc "Load the gem's Windows build into a Windows Ruby under Wine and run the Ruby tests"
  task windows_ruby: "compile:windows" do
    sh "cmake", "-DOBJDUMP=x86_64-w64-mingw32-objdump", "-DLIBRARY=#{WINDOWS_LIBRARY}",
       "-DEXPECTED=Init_Corsivet", "-P", File.join(WINDOWS_TESTS, "check_tables.cmake")
    minitest = Gem::Specification.find_by_name("minitest").full_require_paths.first
    tests = RUBY_TESTS + [File.join(WINDOWS_TESTS, "test_common_app_data.rb")]
    in_throwaway_wine_prefix do |prefix|
      # Installed as a gem lays it out: the library beside the gem's file.
      library_dir = File.join(prefix, "drive_c", WINDOWS_LIBRARY_FOLDER)
      mkdir_p library_dir
      cp [WINDOWS_LIBRARY, File.join(ROOT, "lib", "corsivet.rb")], library_dir
      run = lambda do |environment, files|
        with_environment(environment) do
          sh "wine", WINDOWS_RUBY_EXE, "-I", windows_path(minitest), "-I", "C:/#{WINDOWS_LIBRARY_FOLDER}",
             "-e", "ARGV.each { |test| require test }", *files.map { |test| windows_path(test) }
        end
      end
      run.call({ "LC_ALL" => "C.UTF-8" }, tests)
      # Once more where the ANSI code page cannot spell most of the folders.
      run.call(russian_locale(prefix).merge("EXPECTED_ANSI_CODE_PAGE" => "1251"), tests.last(1))
    end
  end
end
