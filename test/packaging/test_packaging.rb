# What a user gets through RubyGems: the gem, its reference docs and its type
# signatures. Run with the built gem and the docs folder as arguments.
require "minitest/autorun"
require "open3"
require "rbconfig"
require "tmpdir"

class PackagingTest < Minitest::Test
  GEM_FILE, DOC_DIR = ARGV.shift(2)
  GEM_SPEC_NAME = File.basename(GEM_FILE, ".gem")
  ROOT = File.expand_path("../..", __dir__)
  # The gem command of the Ruby under test, not whichever is first on PATH.
  GEM_COMMAND = [RbConfig.ruby, File.join(RbConfig::CONFIG["bindir"], "gem")].freeze

  def test_gem_installs_offline_with_its_docs_and_loads_without_load_path
    Dir.mktmpdir("corsivet-gem-") do |home|
      environment = { "GEM_HOME" => home, "GEM_PATH" => home, "RUBYLIB" => nil, "RUBYOPT" => nil }
      output, status = Open3.capture2e(environment, *GEM_COMMAND, "install", "--local", "--document", "ri", GEM_FILE)
      assert status.success?, output

      script = 'require "corsivet"; path = Veltrane.commonAppDataPath; puts path, path.encoding'
      output, status = Open3.capture2e(environment, RbConfig.ruby, "-e", script, chdir: home)
      assert status.success?, output
      assert_equal "/usr/share\nUTF-8\n", output

      pages = Dir.glob("**/*.ri", base: File.join(home, "doc", GEM_SPEC_NAME, "ri")).sort
      assert_equal %w[Veltrane/cdesc-Veltrane.ri Veltrane/commonAppDataPath-c.ri cache.ri page-README_md.ri], pages
      assert_runtime_linked_in(Dir[File.join(home, "gems", GEM_SPEC_NAME, "lib", "Corsivet.so")].first)
    end
  end

  # The library needs no C++ or GCC runtime from the loader's search path.
  def assert_runtime_linked_in(library)
    dynamic_section, status = Open3.capture2e("readelf", "--dynamic", library)
    assert status.success?, dynamic_section
    needed = dynamic_section.scan(/\(NEEDED\).*\[(.+)\]/).flatten
    assert_includes needed.join(" "), "libc.so"
    assert_empty needed.grep(/libstdc\+\+|libgcc_s/)
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
