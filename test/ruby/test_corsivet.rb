require "minitest/autorun"
require "open3"
require "rbconfig"
require "Corsivet"

class CorsivetTest < Minitest::Test
  # The folder the library was loaded from, for the interpreters tests start.
  LIBRARY_DIR = File.dirname($LOADED_FEATURES.find { |feature| File.basename(feature).start_with?("Corsivet.") })

  EXPECTED_FOLDER =
    case RbConfig::CONFIG["host_os"]
    when /darwin/ then "/Library/Application Support"
    when /mswin|mingw|cygwin/ then ENV.fetch("ProgramData", "C:\\ProgramData").encode("UTF-8")
    else "/usr/share"
    end

  # Runs `script` in a fresh interpreter that finds the library in lib/;
  # returns its output and exit status.
  def run_ruby(script)
    output, status = Open3.capture2e(RbConfig.ruby, "-I", LIBRARY_DIR, "-e", script)
    [output, status]
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
