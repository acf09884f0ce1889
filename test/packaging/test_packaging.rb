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

  # What the signatures say, read with RBS's own parser rather than from
  # how a version of the rbs command prints it: one module function, public
  # on the module and private where it is included, taking nothing and
  # answering a String. (`rake rbs` validates them.)
  def test_type_signatures_describe_a_module_function
    require "rbs"
    loader = RBS::EnvironmentLoader.new(core_root: nil)
    loader.add(path: Pathname(File.join(ROOT, "sig")))
    environment = RBS::Environment.from_loader(loader).resolve_type_names
    module_entry = environment.class_decls[RBS::TypeName.new(name: :Veltrane, namespace: RBS::Namespace.root)]
    members = module_entry.decls.flat_map { |declaration| declaration.decl.members }
    assert_equal [[:commonAppDataPath, :singleton_instance]], members.map { |member| [member.name, member.kind] }
    types = members.first.respond_to?(:overloads) ? members.first.overloads.map(&:method_type) : members.first.types
    assert_equal ["() -> String"], types.map(&:to_s)
  end
end
