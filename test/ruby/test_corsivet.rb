require_relative "helper"
require "fileutils"
require "open3"
require "rbconfig"
require "tmpdir"
require "corsivet"

class CorsivetTest < Minitest::Test
  # The folder the library was loaded from, for the interpreters tests start,
  # and the gem's own lib/, which loads it by the gem's name.
  LIBRARY_DIR = File.dirname($LOADED_FEATURES.find { |feature| File.basename(feature).start_with?("Corsivet.") })
  GEM_ROOT = File.expand_path("../..", __dir__)

  EXPECTED_FOLDER =
    case RbConfig::CONFIG["host_os"]
    when /darwin/ then "/Library/Application Support"
    when /mswin|mingw|cygwin/ then ENV.fetch("ProgramData", "C:\\ProgramData").encode("UTF-8")
    else "/usr/share"
    end

  # This interpreter, to start afresh. Under RUBY_BOX=1 a Ruby with boxes
  # warns at start that they are experimental, which is no part of what a
  # test reads: it is told not to.
  RUBY = [RbConfig.ruby, *("-W:no-experimental" if defined?(Ruby::Box))].freeze

  # Runs `script` in a fresh interpreter that finds the library where this
  # one did; returns its output and exit status. It starts without RubyGems,
  # which the load path makes needless, unless the script needs `gems`:
  # where the interpreter is emulated, RubyGems' start is most of its time.
  # The environment is handed over only when there is one: Ruby 2.0 for
  # Windows, as the lanes build it, can crash inside spawn when given one
  # (even an empty one) together with the redirections Open3 makes.
  def run_ruby(script, environment = {}, gems = false)
    command = [*RUBY, *("--disable-gems" unless gems), "-I", LIBRARY_DIR, "-I", File.join(GEM_ROOT, "lib"),
               "-e", script]
    Open3.capture2e(*(environment.empty? ? command : [environment, *command]))
  end

  def test_module_has_one_function_and_nothing_else
    assert_instance_of Module, Veltrane
    assert_equal [:commonAppDataPath], Veltrane.singleton_methods(false)
    assert_equal [:commonAppDataPath], Veltrane.private_instance_methods(false)
    assert_empty Veltrane.public_instance_methods(false)
    assert_empty Veltrane.constants
    assert_equal 0, Veltrane.method(:commonAppDataPath).arity
  end

  def test_arguments_are_refused
    [[1], [nil, "x"]].each do |arguments|
      error = assert_raises(ArgumentError) { Veltrane.commonAppDataPath(*arguments) }
      # Ruby 2.3 and later say "(given 1, expected 0)"; earlier ones "(1 for 0)".
      assert_match(/wrong number of arguments \((given #{arguments.size}, expected|#{arguments.size} for) 0\)/,
                   error.message)
    end
  end

  def test_including_class_calls_it_privately
    includer = Class.new do
      include Veltrane
      def folder
        commonAppDataPath
      end
    end
    assert_equal EXPECTED_FOLDER, includer.new.folder
    assert_raises(NoMethodError) { includer.new.commonAppDataPath }
  end

  def test_answer_is_a_fresh_utf8_string_of_the_folder
    first = Veltrane.commonAppDataPath
    second = Veltrane.commonAppDataPath
    [first, second].each do |answer|
      assert_instance_of String, answer
      assert_equal EXPECTED_FOLDER, answer
      assert_equal Encoding::UTF_8, answer.encoding
      assert answer.valid_encoding?
      refute answer.frozen?
    end
    refute_same first, second

    first << "/changed"
    first.replace("")
    assert_equal EXPECTED_FOLDER, second
    assert_equal EXPECTED_FOLDER, Veltrane.commonAppDataPath
  end

  # Runs `loading` in a fresh interpreter, then asks for the folder; checks
  # the answer and that the library was loaded exactly once.
  def assert_loads_once(name, loading, environment = {}, gems = false)
    loaded = "$LOADED_FEATURES.grep(/Corsivet\\.#{RbConfig::CONFIG['DLEXT']}\\z/).size"
    output, status = run_ruby("#{loading}; print Veltrane.commonAppDataPath, '|', #{loaded}", environment, gems)
    assert status.success?, "#{name}: #{output}"
    assert_equal "#{EXPECTED_FOLDER}|1", output.lines.last.encode("UTF-8", invalid: :replace), name
  end

  def test_gem_name_and_library_name_load_it_once_in_any_order
    {
      "gem name" => 'require "corsivet"',
      "library name" => 'require "Corsivet"',
      "gem name, then library name" => 'require "corsivet"; require "Corsivet"',
      "library name, then gem name" => 'require "Corsivet"; require "corsivet"',
    }.each { |name, loading| assert_loads_once(name, loading) }
  end

  # When the gem's file finds no library for this Ruby, it says why, in one
  # sentence: a precompiled gem holding libraries for other Rubies alone, or
  # a source checkout that was never built; one that was, but whose library
  # does not load, is left to the loader's own message. A precompiled
  # library that does not load (an empty file here: the loader refuses it
  # as it refuses one for another CPU) keeps the loader's message, and says
  # how to install the source gem. Run with RubyGems off and no
  # folder holding a library on the load path, either of which could find
  # one elsewhere, but with did_you_mean, where the Ruby has it, which adds
  # to the message of a LoadError the names it finds on the load path it
  # started with: corsivet among them.
  def test_missing_library_is_explained
    {
      "precompiled for other Rubies" =>
        [%w[lib/1.8/Corsivet.so lib/9.9/Corsivet.so],
         /\A#{Regexp.escape("this corsivet gem is precompiled for Ruby 1.8 and 9.9, not for Ruby #{RUBY_VERSION}: " \
                             "install the source gem instead (gem install corsivet --platform ruby)")}\z/],
      "a source checkout never built" =>
        [%w[Rakefile],
         /\Acannot load such file -- Corsivet\.so: this source checkout of corsivet \(.+\) has not been built; #{
          Regexp.escape('`rake compile` there')} [^\n]+\)\z/],
      "a source checkout built, but not loadable" =>
        [%W[Rakefile lib/Corsivet.#{RbConfig::CONFIG['DLEXT']}], /\A(?!.*has not been built).*Corsivet\./m],
      "precompiled for this Ruby, but not loadable here" =>
        [%W[lib/#{RUBY_VERSION[/\A\d+\.\d+/]}/Corsivet.so],
         /\A[^\n]*Corsivet\.so[^\n]*: #{Regexp.escape(
           'the precompiled library did not load on this system; install the source gem with ' \
           '`gem install corsivet --platform=ruby`, or with Bundler `bundle config set force_ruby_platform true`')}\z/],
    }.each do |name, (files, message)|
      Dir.mktmpdir("corsivet-missing-") do |gem_root|
        FileUtils.mkdir_p(File.join(gem_root, "lib"))
        FileUtils.cp(File.join(GEM_ROOT, "lib", "corsivet.rb"), File.join(gem_root, "lib"))
        files.each do |file|
          FileUtils.mkdir_p(File.dirname(File.join(gem_root, file)))
          FileUtils.touch(File.join(gem_root, file))
        end
        lib = File.join(gem_root, "lib")
        output, status = Open3.capture2e(*RUBY, "--disable-gems", "-I", lib, "-e",
                                         'begin; require "did_you_mean"; rescue LoadError; end; ' \
                                         '$LOAD_PATH.reject! { |dir| File.exist?(File.join(dir, "Corsivet.so")) }; ' \
                                         '$LOAD_PATH.unshift(ARGV[0]); ' \
                                         'begin; require "corsivet"; rescue LoadError => e; print e.message; end', lib)
        assert status.success?, "#{name}: #{output}"
        assert_match message, output, name
      end
    end
  end

  def test_bundler_require_loads_it_once
    skip "Bundler.require fails inside Bundler under RUBY_BOX=1" if defined?(Ruby::Box) && Ruby::Box.enabled?
    begin
      Gem::Specification.find_by_name("bundler")
    rescue Gem::LoadError
      skip "this interpreter has no Bundler"
    end
    Dir.mktmpdir("corsivet-bundle-") do |folder|
      gemfile = File.join(folder, "Gemfile")
      File.write(gemfile, "source \"https://rubygems.org\"\ngem \"corsivet\", path: #{GEM_ROOT.inspect}\n")
      assert_loads_once("Bundler.require", 'require "bundler"; Bundler.require',
                        { "BUNDLE_GEMFILE" => gemfile, "HOME" => folder }, true)
    end
  end

  # A Ractor's result is its `take` up to Ruby 3.4, its `value` from 4.0 on.
  def test_ractors_may_call_it
    skip "this interpreter has no Ractors" unless defined?(Ractor)
    output, status = run_ruby('Warning[:experimental] = false; require "Corsivet"; ' \
                              "ractor = Ractor.new { Veltrane.commonAppDataPath }; " \
                              "print ractor.respond_to?(:take) ? ractor.take : ractor.value")
    assert status.success?, output
    assert_equal EXPECTED_FOLDER, output.encode("UTF-8", invalid: :replace)
  end

  # What a Ruby with boxes says once at start under RUBY_BOX=1.
  BOX_WARNING = Regexp.new('\A.*warning: Ruby::Box is experimental, and the behavior may change in the future!\n' \
                           '(See \S+ for known issues, etc\.\n)?')

  # Under RUBY_BOX=1 each box loads a copy of the library of its own: the
  # main box and two new ones each answer with the folder from a module of
  # their own, and the process ends with no warning but Ruby's own.
  def test_each_box_loads_the_library_for_itself
    skip "this interpreter has no boxes" unless defined?(Ruby::Box)
    script = 'require "corsivet"; boxes = Array.new(2) { Ruby::Box.new }; ' \
             'boxes.each { |box| box.load_path.replace($LOAD_PATH); box.require("corsivet") }; ' \
             "modules = [Veltrane, *boxes.map { |box| box::Veltrane }]; GC.start; " \
             "puts modules.map(&:commonAppDataPath), modules.uniq.size"
    output, errors, status = Open3.capture3({ "RUBY_BOX" => "1" }, RbConfig.ruby, "-I", LIBRARY_DIR,
                                            "-I", File.join(GEM_ROOT, "lib"), "-e", script)
    assert status.success?, errors
    assert_equal [EXPECTED_FOLDER] * 3 + ["3"], output.encode("UTF-8", invalid: :replace).lines.map(&:chomp)
    assert_match BOX_WARNING, errors
    assert_empty errors.sub(BOX_WARNING, "")
  end

  def test_name_bound_to_a_non_module_makes_require_raise_type_error
    ["Veltrane = 1", "class Veltrane; end"].each do |binding|
      output, status = run_ruby("#{binding}\n" \
                                'begin; require "Corsivet"; rescue TypeError => error; puts "TypeError: #{error.message}"; end')
      assert status.success?, "interpreter ended badly after #{binding.inspect}: #{output}"
      # Ruby 2.0 names the class of what is bound ("Fixnum is not a module").
      assert_match(/\ATypeError: \w+ is not a module/, output)
    end
  end

  # Read with the platform's nm: GNU nm on Linux, Apple's on macOS, whose
  # symbol names carry a leading underscore.
  def test_library_exports_only_its_entry_point
    command =
      case RbConfig::CONFIG["host_os"]
      when /linux/ then %w[nm -D --defined-only]
      when /darwin/ then %w[nm -g -U]
      else skip "the export table is read with nm on Linux and macOS"
      end
    library = File.join(LIBRARY_DIR, "Corsivet.#{RbConfig::CONFIG['DLEXT']}")
    symbols, status = Open3.capture2(*command, library)
    assert status.success?
    assert_equal ["Init_Corsivet"], symbols.lines.map { |line| line.split.last.sub(/\A_(?=Init_)/, "") }
  end
end
