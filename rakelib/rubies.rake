# Builds the build root and the cached Rubies of test/rubies/rubies.rb, and
# the lanes that install the source gem with a Linux Ruby's own RubyGems:
# one for each Linux Ruby built here, and one for the build root's Ruby.

file BUILD_ROOT do
  mkdir_p RUBIES_CACHE
  sh "bash", BUILD_ROOT_RECIPE.first, BUILD_ROOT
end

[*WINDOWS_RUBIES, *LINUX_RUBIES].each do |interpreter|
  file interpreter.executable do
    recipe = ["bash", interpreter.recipe_files.first, interpreter.home, *interpreter.recipe_arguments]
    if interpreter.built_in_root?
      # The root must be there first, but it is no source to rebuild from:
      # entering it updates its folder's time.
      Rake::Task[BUILD_ROOT].invoke
      in_build_root(*recipe)
    else
      mkdir_p RUBIES_CACHE
      sh(*recipe)
    end
  end
  # What rake-compiler asks for, made by the build.
  file interpreter.rbconfig => interpreter.executable
end

namespace :rubies do
  desc "Build the Windows Rubies (#{WINDOWS_RUBIES.map(&:short_version).join(', ')}), once, into #{RUBIES_CACHE}"
  task windows: WINDOWS_RUBIES.map(&:executable)

  desc "Build the Linux Rubies (#{LINUX_RUBIES.map(&:short_version).join(', ')}), once, into #{RUBIES_CACHE}"
  task linux: LINUX_RUBIES.map(&:executable)
end

# Installs the source gem with the gem command of the Linux Ruby `ruby`,
# whose RubyGems builds the extension with that Ruby's mkmf, as a user's
# install does; checks that the library needs no shared C++ runtime, and
# gives its folder to the block.
def with_installed_source_gem(ruby)
  with_empty_gem_home(ruby) do |gem_command, gem_home|
    sh(*gem_command, "install", "--local", "--no-document", GEM_FILE)
    library = Dir[File.join(gem_home, "gems", "*", "lib", LIBRARY_FILE)].first
    needed = `readelf --dynamic #{library}`.scan(/\(NEEDED\).*\[(.+)\]/).flatten
    needed.grep(/libstdc\+\+|libgcc_s/).empty? or raise "#{library} needs the shared C++ runtime: #{needed.join(' ')}"
    yield File.dirname(library)
  end
end

# Runs the Ruby tests against the source gem installed by the Linux Ruby
# `ruby`, found through RubyGems with no -I; a Ruby with boxes runs them
# once more with every library loaded in a box.
def test_installed_source_gem(ruby)
  with_installed_source_gem(ruby) do
    run_tests = [ruby, "-e", "ARGV.each { |test| require test }", *RUBY_TESTS]
    sh(*run_tests)
    next unless system(ruby, "-e", "exit defined?(Ruby::Box) ? 0 : 1")

    with_environment("RUBY_BOX" => "1") { sh(*run_tests) }
  end
end

namespace :bench do
  desc "Measure under each Linux Ruby built here (#{LINUX_RUBIES.map(&:short_version).join(', ')}), " \
       "with the gem it installs"
  task linux: [:gem, *LINUX_RUBIES.map(&:executable)] do
    Dir.mktmpdir("corsivet-bench-") do |libraries|
      cp_r benchmark_ips_folder, libraries
      LINUX_RUBIES.each do |interpreter|
        with_installed_source_gem(interpreter.executable) do |library_dir|
          sh interpreter.executable, "-I", libraries, BENCH, library_dir
        end
      end
    end
  end
end

namespace :test do
  LINUX_RUBIES.each do |interpreter|
    desc "Install the gem with Linux Ruby #{interpreter.short_version}'s own gem command and run the Ruby tests " \
         "against it (built once)"
    task "ruby#{interpreter.short_version.delete('.')}" => [:gem, interpreter.executable] do
      test_installed_source_gem(interpreter.executable)
    end
  end

  desc "Install the gem with the Debian 13 build root's Ruby and run the Ruby tests against it"
  task root_ruby: BUILD_ROOT do
    in_build_root("rake", "test:root_ruby:here")
  end

  namespace :root_ruby do
    # The same for the Ruby running rake, in the build root.
    task(here: :gem) { test_installed_source_gem(RbConfig.ruby) }
  end
end
