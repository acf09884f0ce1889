# What a user gets through RubyGems: the gem, its reference docs and its type
# signatures. Run with the built gem and the docs folder as arguments.
require "minitest/autorun"
require "open3"
require "rbconfig"
require "tmpdir"

class PackagingTest < Minitest::Test
  GEM_FILE, DOC_DIR = ARGV.shift(2)
  ROOT = File.expand_path("../..", __dir__)

  def test_gem_installs_offline_and_loads_without_load_path
    Dir.mktmpdir("corsivet-gem-") do |home|
      environment = { "GEM_HOME" => home, "GEM_PATH" => home, "RUBYLIB" => nil, "RUBYOPT" => nil }
      output, status = Open3.capture2e(environment, "gem", "install", "--local", "--no-document", GEM_FILE)
      assert status.success?, output

      script = 'require "Corsivet"; path = Veltrane.commonAppDataPath; puts path, path.encoding'
      output, status = Open3.capture2e(environment, RbConfig.ruby, "-e", script, chdir: home)
      assert status.success?, output
      assert_equal "/usr/share\nUTF-8\n", output
    end
  end

  def test_reference_documents_the_module_function
    page = File.read(File.join(DOC_DIR, "Veltrane.html"))
    assert_includes page, 'id="method-c-commonAppDataPath"'
    assert_match(/returns\s+the\s+empty\s+String/, page)
  end

  # Runs the rbs tool on sig/ with `arguments`; returns its output.
  def rbs(*arguments)
    output, status = Open3.capture2e(RbConfig.ruby, Gem.bin_path("rbs", "rbs"), "-I", File.join(ROOT, "sig"),
                                     *arguments)
    assert status.success?, output
    output
  end

  def test_type_signatures_validate_and_describe_a_module_function
    rbs("validate", "--silent")
    { "--singleton" => "public", "--instance" => "private" }.each do |kind, accessibility|
      method = rbs("method", kind, "Veltrane", "commonAppDataPath")
      assert_match(/accessibility: #{accessibility}\n\s*types:\n\s*\(\) -> ::String\n\z/, method)
    end
  end
end
