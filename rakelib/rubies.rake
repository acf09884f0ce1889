# Builds the cached Rubies of test/rubies/rubies.rb, and the lane that
# installs the gem with Linux Ruby 2.0's own RubyGems.

[*WINDOWS_RUBIES, LINUX_RUBY_2_0].each do |interpreter|
  file interpreter.executable do
    mkdir_p RUBIES_CACHE
    sh "bash", interpreter.recipe_files.first, interpreter.home, *interpreter.arguments.call
  end
  # What rake-compiler asks for, made by the build.
  file interpreter.rbconfig => interpreter.executable
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
