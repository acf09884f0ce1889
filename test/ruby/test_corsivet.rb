require "minitest/autorun"
require "open3"
require "rbconfig"
require "tmpdir"
require "Corsivet"

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

  # Runs `script` in a fresh interpreter that finds the library where this
  # one did; returns its output and exit status.
  def run_ruby(script, environment = {})
    Open3.capture2e(environment, RbConfig.ruby, "-I", LIBRARY_DIR, "-I", File.join(GEM_ROOT, "lib"), "-e", script)
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
      assert_match(/wrong number of arguments \(given #{arguments.size}, expected 0\)/, error.message)
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

  def test_gem_name_and_library_name_load_it_once_in_any_order
    Dir.mktmpdir("corsivet-bundle-") do |folder|
      gemfile = File.join(folder, "Gemfile")
      File.write(gemfile, "source \"https://rubygems.org\"\ngem \"corsivet\", path: #{GEM_ROOT.inspect}\n")
      {
        "gem name" => 'require "corsivet"',
        "library name" => 'require "Corsivet"',
        "gem name, then library name" => 'require "corsivet"; require "Corsivet"',
        "library name, then gem name" => 'require "Corsivet"; require "corsivet"',
        "Bundler.require" => 'require "bundler"; Bundler.require',
      }.each do |name, loading|
        loaded = "$LOADED_FEATURES.grep(/Corsivet\\.#{RbConfig::CONFIG['DLEXT']}\\z/).size"
        output, status = run_ruby("#{loading}; print Veltrane.commonAppDataPath, '|', #{loaded}",
                                  "BUNDLE_GEMFILE" => gemfile, "HOME" => folder)
        assert status.success?, "#{name}: #{output}"
        assert_equal "#{EXPECTED_FOLDER}|1", output.lines.last.encode("UTF-8", invalid: :replace), name
      end
    end
  end

  def test_ractors_may_call_it
    skip "this interpreter has no Ractors" unless defined?(Ractor)
    output, status = run_ruby('Warning[:experimental] = false; require "Corsivet"; ' \
                              "print Ractor.new { Veltrane.commonAppDataPath }.take")
    assert status.success?, output
    assert_equal EXPECTED_FOLDER, output.encode("UTF-8", invalid: :replace)
  end

  def test_name_bound_to_a_non_module_makes_require_raise_type_error
    ["Veltrane = 1", "class Veltrane; end"].each do |binding|
      output, status = run_ruby(<<~SCRIPT)
        #{binding}
        begin
          require "Corsivet"
        rescue TypeError => error
          puts "TypeError: \#{error.message}"
        end
      SCRIPT
      assert status.success?, "interpreter ended badly after #{binding.inspect}: #{output}"
      assert_match(/\ATypeError: Veltrane is not a module/, output)
    end
  end

  def test_library_exports_only_its_entry_point
    skip "the export table is read with GNU nm on Linux" unless RbConfig::CONFIG["host_os"] =~ /linux/
    symbols, status = Open3.capture2("nm", "-D", "--defined-only", File.join(LIBRARY_DIR, "Corsivet.so"))
    assert status.success?
    assert_equal ["Init_Corsivet"], symbols.lines.map { |line| line.split.last }
  end
end
