# Checks beyond the everyday tests: sanitizers, memcheck, static analysis,
# and the hosted CI workflow, which cannot run here.

MINGW_CXX = "x86_64-w64-mingw32-g++-posix"
LIBRARY_SOURCES = Dir[File.join(ROOT, "{extension,module_location}", "*.cpp")].sort
CXX_SOURCES = Dir[File.join(ROOT, "{extension,module_location,test}", "**", "*.{cpp,h}")].sort
ASAN_BUILD_DIR = File.join(BUILD_DIR, "asan")
CLANG_BUILD_DIR = File.join(BUILD_DIR, "clang")

# Configures the extension with mkmf in `build_dir`, passing `extconf_args`,
# when the Makefile is missing or older than extconf.rb, and builds it;
# extconf.rb runs under `ruby_command` (by default the Ruby running rake).
# Returns the library. The everyday builds are rake-compiler's; these lanes
# build variants of it that rake-compiler has no place for.
def build_extension(build_dir, *extconf_args, ruby_command: [RbConfig.ruby])
  mkdir_p build_dir
  Dir.chdir(build_dir) do
    makefile_stale = !File.exist?("Makefile") ||
                     File.mtime("Makefile") < File.mtime(File.join(ROOT, "extension", "extconf.rb"))
    if makefile_stale
      # Objects built with the old flags would otherwise be kept.
      sh "make", "--no-print-directory", "clean" if File.exist?("Makefile")
      sh(*ruby_command, File.join(ROOT, "extension", "extconf.rb"), *extconf_args)
    end
    sh "make", "--no-print-directory", "V=0"
  end
  File.join(build_dir, LIBRARY_FILE)
end

# mkmf builds with the compiler the interpreter was built with; this runs
# extconf.rb with clang++ in its place, as a user would by editing RbConfig.
WITH_CLANG = [RbConfig.ruby, "-rrbconfig", "-e", <<~'RUBY']
  [RbConfig::CONFIG, RbConfig::MAKEFILE_CONFIG].each do |config|
    config.update("CXX" => "clang++", "LDSHAREDXX" => "clang++ -shared")
  end
  load($0 = ARGV.shift)
RUBY

# The folders a GCC searches for <...> includes, as -isystem options for
# clang: its C++ library and the platform headers, but not GCC's own
# intrinsics, which clang brings itself.
def system_include_options(compiler)
  output = IO.popen([compiler, "-E", "-x", "c++", "-", "-v"], err: %i[child out], in: File::NULL, &:read)
  folders = output[/<...> search starts here:\n(.*)End of search list/m, 1].to_s.split
  folders.reject { |folder| folder =~ %r{/gcc/[^/]+/[^/]+/include(-fixed)?\z} }.flat_map { |folder| ["-isystem", folder] }
end

ruby_tests_against(:ruby_under_asan, ASAN_BUILD_DIR)
ruby_tests_against(:ruby_under_clang, CLANG_BUILD_DIR)

namespace :test do
  desc "Run the Ruby tests against a sanitizer build, and the native tests with sanitizers"
  task :asan do
    build_extension(ASAN_BUILD_DIR, "--enable-werror", "--enable-sanitizers")
    # The interpreter is not built with the sanitizer, so its runtime must be
    # loaded first; and Ruby leaves memory to the operating system at exit by
    # design, so leak detection is off for this run. The interpreter sets up
    # its threads' signal stacks itself; the sanitizer must leave them alone.
    runtime = `#{RbConfig::CONFIG['CC']} -print-file-name=libasan.so`.strip
    with_environment("LD_PRELOAD" => runtime,
                     "ASAN_OPTIONS" => "detect_leaks=0:use_sigaltstack=0:abort_on_error=1",
                     "UBSAN_OPTIONS" => "print_stacktrace=1:halt_on_error=1") do
      Rake::Task["test:ruby_under_asan"].invoke
    end
    if tools_present?("test:asan's native tests", "cmake")
      run_native_tests(File.join(BUILD_DIR, "native-asan"), "-DSANITIZE=ON")
    end
  end

  desc "Build with clang++ and run the Ruby tests against that build"
  task :clang do
    next unless tools_present?("test:clang", "clang++")

    build_extension(CLANG_BUILD_DIR, "--enable-werror", ruby_command: WITH_CLANG)
    Rake::Task["test:ruby_under_clang"].invoke
  end

  desc "Validate the hosted CI workflow against GitHub's schema, and check the tasks and files it names"
  task :workflow do
    next unless tools_present?("test:workflow", "action-validator")

    workflow = File.join(ROOT, ".github", "workflows", "ci.yml")
    sh "action-validator", workflow
    ruby File.join(ROOT, "test", "workflow", "test_workflow.rb"), workflow
  end

  desc "Run the native tests under valgrind's memcheck"
  task :valgrind do
    next unless tools_present?("test:valgrind", "cmake", "valgrind")

    build_dir = File.join(BUILD_DIR, "native")
    build_native_tests(build_dir)
    Dir.chdir(build_dir) do
      sh "valgrind", "--quiet", "--error-exitcode=1", "--leak-check=full",
         "--errors-for-leak-kinds=definite,indirect", "./module_path_test"
    end
  end
end

desc "Static checks: cppcheck, clang-tidy and clang-format on the C++ sources"
task :lint do
  next unless tools_present?("lint", "cppcheck", "clang-tidy", "clang-format")

  sh "cppcheck", "--quiet", "--error-exitcode=1", "--std=c++11", "--inline-suppr",
     "--enable=warning,style,performance,portability", "-I", "extension", "-I", "module_location",
     "extension", "module_location", chdir: ROOT
  posix_sources, windows_sources = LIBRARY_SOURCES.partition { |source| !source.end_with?("_windows.cpp") }
  common = ["-std=c++11", "-I", File.join(ROOT, "extension"), "-I", File.join(ROOT, "module_location")]
  sh "clang-tidy", "--quiet", *posix_sources, "--", *common,
     "-isystem", RbConfig::CONFIG["rubyhdrdir"], "-isystem", RbConfig::CONFIG["rubyarchhdrdir"]
  if on_path?(MINGW_CXX)
    sh "clang-tidy", "--quiet", *windows_sources, "--", "--target=x86_64-w64-mingw32", *common,
       *system_include_options(MINGW_CXX)
  else
    warn "lint: #{MINGW_CXX} is missing, so the Windows files were not checked by clang-tidy"
  end
  sh "clang-format", "--dry-run", "--Werror", *CXX_SOURCES
end
