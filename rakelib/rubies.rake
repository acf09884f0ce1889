# Builds the build root and the cached Rubies of test/rubies/rubies.rb, and
# the lanes that install the source gem with a Linux Ruby's own RubyGems:
# Ruby 2.0, and the build root's Ruby.

file BUILD_ROOT do
  mkdir_p RUBIES_CACHE
  sh "bash", BUILD_ROOT_RECIPE.first, BUILD_ROOT
end

[*WINDOWS_RUBIES, LINUX_RUBY_2_0].each do |interpreter|
  file interpreter.executable do
    recipe = ["bash", interpreter.recipe_files.first, interpreter.home, *interpreter.arguments.call]
    if interpreter.built_in_root
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

  desc "Build Ruby 2.0 for this machine, once, into #{RUBIES_CACHE}"
  task linux: LINUX_RUBY_2_0.executable
end

# Installs the source gem with the gem command of the Linux Ruby `ruby`,
# whose RubyGems builds the extension with that Ruby's mkmf, as a user's
# install does, and runs the Ruby tests against the installed gem, found
# through RubyGems with no -I.
def test_installed_source_gem(ruby)
  with_empty_gem_home(ruby) do |gem_command, gem_home|
    sh(*gem_command, "install", "--local", "--no-document", GEM_FILE)
    library = Dir[File.join(gem_home, "gems", "*", "lib", LIBRARY_FILE)].first
    needed = `readelf --dynamic #{library}`.scan(/\(NEEDED\).*\[(.+)\]/).flatten
    needed.grep(/libstdc\+\+|libgcc_s/).empty? or raise "#{library} needs the shared C++ runtime: #{needed.join(' ')}"
    sh ruby, "-e", "ARGV.each { |test| require test }", *RUBY_TESTS
  end
end

namespace :test do
  desc "Install the gem with Ruby 2.0's own gem command and run the Ruby tests against it (Ruby 2.0 built once)"
  task ruby20: [:gem, LINUX_RUBY_2_0.executable] do
    test_installed_source_gem(LINUX_RUBY_2_0.executable)
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
