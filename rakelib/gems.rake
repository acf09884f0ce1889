# The gems users get: the precompiled gems, which rake-compiler builds with
# one library for each Ruby of their platform (the Windows ones, and the
# Linux ones in the Debian 11 build root, whose C library sets the oldest
# they load with), the check of each library's tables, and the gem index
# lane:
# - test:gem_index, every Ruby installing corsivet by name from one gem
#   index of the source and precompiled gems, and each getting the gem made
#   for it (the Windows Rubies under Wine, as in windows.rake).
require "rubygems/package"
require "zlib"

GEM_INDEX = File.join(BUILD_DIR, "gem-index")
# The newest glibc symbol version a precompiled Linux library may need: the
# one RHEL 7 and Amazon Linux 2 have, and the first aarch64 has at all.
GLIBC_FLOOR = "2.17".freeze

# The precompiled gem for `platform`, as rake-compiler names it.
def precompiled_gem(platform)
  "pkg/#{GEM_SPEC.name}-#{GEM_SPEC.version}-#{platform}.gem"
end

# Where rake-compiler builds the library for `interpreter`.
def windows_build_dir(interpreter)
  File.join(BUILD_DIR, interpreter.platform, "Corsivet", interpreter.version)
end

# Where rake-compiler stages that library for the gem: in a folder named
# after the Ruby's minor version when it builds for more than one Ruby.
def staged_library(interpreter)
  lib = rubies_compiled_here.map(&:version).uniq.size > 1 ? "lib/#{interpreter.short_version}" : "lib"
  File.join(BUILD_DIR, interpreter.platform, "stage", lib, LIBRARY_FILE.sub(/\.\w+\z/, ".so"))
end

# The requirement of a gem that holds a library for `interpreter` alone.
def admitting_only(interpreter)
  [">= #{interpreter.short_version}", "< #{interpreter.short_version.succ}.dev"]
end

# Each library goes into the gem without its debugging information and
# symbol table; the export table, which the interpreter reads, stays.
rubies_compiled_here.each do |interpreter|
  task "copy:Corsivet:#{interpreter.platform}:#{interpreter.version}" do
    library = staged_library(interpreter)
    sh interpreter.cross_tool("strip"), "--strip-all", library
    if interpreter.windows?
      check_windows_tables(library, interpreter.cross_tool("objdump"))
    else
      check_elf_tables(library, true)
    end
  end
end

# Builds the precompiled gems that hold a library for each of `rubies`:
# those whose library is built in this process here, the others by rake in
# their build root, where `task` is run again for them. The gem is packed
# from a folder that is made anew only when a file in it changes, not when
# the Rubies chosen, and so its files, do.
def build_precompiled_gems(rubies, task, rake = ["rake"])
  here = rubies.select(&:compiled_here?)
  here.map(&:platform).uniq.each do |platform|
    Rake::Task["native:#{platform}"].invoke
    rm_rf precompiled_gem(platform).sub(/\.gem\z/, "")
    Rake::Task[precompiled_gem(platform)].invoke
  end
  # rake-compiler 1.1 (Debian 11's) also installs each library it builds
  # into lib/VERSION/, where the checkout's lib/corsivet.rb would take it
  # for a precompiled gem's.
  installed = Dir[File.join(ROOT, "lib", "*.*", "")]
  rm_rf installed unless installed.empty?
  (rubies - here).group_by(&:root).each do |root, elsewhere|
    root or raise "#{elsewhere.map(&:platform).uniq.join(', ')}: #{elsewhere.first.cross_compiler} is missing"
    sh(*root.command("env", "RUBY_CC_VERSION=#{elsewhere.map(&:version).uniq.join(':')}", *rake, task))
  end
end

# The Linux gems are built by rake under the first Ruby built in their root:
# Debian 11's RubyGems 3.2 names x86_64-linux-gnu x86_64-linux, which a musl
# Ruby would take; the -gnu platforms came with RubyGems 3.3.22. Its rake is
# a bundled gem, and rake-compiler is Debian 11's, found in the root.
def linux_gem_rake
  packer = LINUX_RUBIES.find { |interpreter| interpreter.root == LINUX_ROOT && !interpreter.emulated? }
  rake_compiler = Dir[File.join(LINUX_ROOT.home, "usr/share/rubygems-integration/all/gems/rake-compiler-*/lib")].first
  [packer.executable, "-I", rake_compiler.to_s.sub(LINUX_ROOT.home, ""), "-e", 'load Gem.bin_path("rake", "rake")', "--"]
end

namespace :gem do
  desc "Build the precompiled Windows gems, #{precompiled_gem('PLATFORM')}, one library per Windows Ruby " \
       "(RUBY_CC_VERSION picks)"
  task windows: selected_windows_rubies.map(&:executable) do
    build_precompiled_gems(selected_windows_rubies, "gem:windows")
  end

  desc "Build the precompiled Linux gems (#{LINUX_PLATFORMS.join(', ')}), one library per Ruby, in the Debian 11 root"
  task linux: selected_linux_rubies.map(&:executable) do
    build_precompiled_gems(selected_linux_rubies, "gem:linux", linux_gem_rake)
  end
end

# The precompiled gem of `held`'s platform as it would be built for `held`
# alone, made in `folder`: its library and the requirement that admits its
# Ruby alone.
def windows_gem_holding(held, folder)
  package = Gem::Package.new(File.join(ROOT, precompiled_gem(held.platform)))
  contents = File.join(folder, "for-#{held.short_version}-alone")
  package.extract_files(contents)
  narrowed = package.spec
  narrowed.files = narrowed.files.reject do |file|
    file =~ %r{\Alib/\d+\.\d+/} && !file.start_with?("lib/#{held.short_version}/")
  end
  narrowed.required_ruby_version = admitting_only(held)
  File.join(contents, Dir.chdir(contents) { Gem::Package.build(narrowed) })
end

namespace :test do
  desc "Every Ruby installs corsivet by name from a gem index of the source and precompiled gems, and gets its own"
  task gem_index: [:gem, "gem:windows", "gem:linux", *LINUX_RUBIES.select(&:buildable?).map(&:executable)] do
    next unless tools_present?("test:gem_index", "debootstrap") && root_present?("test:gem_index")

    Rake::Task[UCRT_ROOT.home].invoke
    sh(*UCRT_ROOT.command("rake", "test:gem_index:write"))
    in_parallel(selected_windows_rubies) do |interpreter|
      in_throwaway_wine_prefix do |prefix|
        with_environment("GEM_HOME" => "C:/gems", "GEM_PATH" => nil) do
          sh "wine", *windows_gem_command(interpreter), *INSTALL_FROM_INDEX, "file:///Z:#{GEM_INDEX}/"
          sh "wine", interpreter.executable, "-e", LOAD_AND_ANSWER
        end
        assert_installed(File.join(prefix, "drive_c", "gems"), "#{GEM_SPEC.full_name}-#{interpreter.platform}")
      end
    end
    install_from_gem_index(RbConfig.ruby, gem_expected_here)
    # RubyGems 2.0 weighs no gem's required Ruby version when it chooses: it
    # takes the x86_64-linux-gnu gem, and refuses it. Told the platform, it
    # gets the source gem.
    LINUX_RUBIES.select { |interpreter| interpreter.buildable? && !interpreter.root }.each do |interpreter|
      with_empty_gem_home(interpreter.executable) do |gem_command, _|
        assert_refused([*gem_command, *INSTALL_FROM_INDEX, "file://#{GEM_INDEX}/"], "#{NATIVE_CPU}-linux-gnu")
      end
      install_from_gem_index(interpreter.executable, GEM_SPEC.full_name, "--platform", "ruby")
    end
    sh(*UCRT_ROOT.command("rake", "test:gem_index:here"))
    next if selected_linux_rubies.empty?

    sh(*LINUX_ROOT.command("rake", "test:gem_index:linux_root", linux_cpus_runnable("test:gem_index")))
  end

  namespace :gem_index do
    # The index is written by the Debian 13 root's RubyGems: RubyGems before
    # 3.3.22 (Debian 12's) reads x86_64-linux-gnu as x86_64-linux.
    task :write do
      rm_rf GEM_INDEX
      platforms = selected_precompiled_rubies.map(&:platform).uniq
      write_gem_index(GEM_INDEX, [GEM_FILE, *platforms.map { |platform| precompiled_gem(platform) }])
    end

    # The same for the Debian 13 root's Ruby (3.3), which gets the
    # precompiled gem of its platform.
    task(:here) { install_from_gem_index(RbConfig.ruby, gem_expected_here) }

    # The same for each Ruby of the Debian 11 root, which gets the gem of its
    # platform; and each one's RubyGems, asked for a musl system's gem,
    # chooses the source gem.
    task :linux_root do
      each_linux_root_ruby_runnable do |interpreter|
        install_from_gem_index(interpreter.executable, "#{GEM_SPEC.full_name}-#{interpreter.platform}")
        assert_musl_takes_source_gem(interpreter)
      end
    end
  end
end

# Fails unless the gem command of `interpreter`, asked for the gem of a musl
# system of its CPU, fetches the source gem from the index.
def assert_musl_takes_source_gem(interpreter)
  musl = "#{interpreter.cpu}-linux-musl"
  with_empty_gem_home(interpreter.executable) do |gem_command, gem_home|
    Dir.chdir(gem_home) do
      sh(*gem_command, "fetch", GEM_SPEC.name, "--platform", musl, "--clear-sources", "--source", "file://#{GEM_INDEX}/")
      fetched = Dir["*.gem"]
      fetched == ["#{GEM_SPEC.full_name}.gem"] or raise "for #{musl}, Ruby #{interpreter.version} fetched #{fetched}"
      puts "for #{musl}, Ruby #{interpreter.version} chose the source gem, as it should"
    end
  end
end

# Writes a gem index of `gem_files` into `folder`, in the layout that
# `gem install --source` reads on every RubyGems since 2.0: the gems under
# gems/, each one's specification (Marshal, deflated) under quick/, and the
# lists of what there is. RubyGems 3.5 moved `gem generate_index` into a gem
# of its own, rubygems-generate_index, which Debian does not package.
def write_gem_index(folder, gem_files)
  marshal = "Marshal.#{Gem.marshal_version}"
  mkdir_p [File.join(folder, "gems"), File.join(folder, "quick", marshal)]
  cp gem_files, File.join(folder, "gems")
  specs = gem_files.map { |file| Gem::Package.new(file).spec }
  specs.each do |spec|
    File.binwrite(File.join(folder, "quick", marshal, "#{spec.full_name}.gemspec.rz"),
                  Zlib::Deflate.deflate(Marshal.dump(spec)))
  end
  tuples = specs.map { |spec| [spec.name, spec.version, spec.original_platform.to_s] }
  prerelease, released = tuples.partition { |_, version, _| version.prerelease? }
  latest = released.group_by { |name, _, platform| [name, platform] }.values.map { |same| same.max_by { |t| t[1] } }
  { "specs" => released, "latest_specs" => latest, "prerelease_specs" => prerelease }.each do |list, entries|
    path = File.join(folder, "#{list}.#{Gem.marshal_version}.gz")
    Zlib::GzipWriter.open(path) { |gz| gz.write(Marshal.dump(entries)) }
  end
end

# What installs corsivet from the index, given after it as a file URL.
INSTALL_FROM_INDEX = ["install", GEM_SPEC.name, "--version", GEM_SPEC.version.to_s, "--no-document",
                      "--clear-sources", "--source"].freeze
LOAD_AND_ANSWER = 'require "corsivet"; puts "#{RUBY_VERSION}: #{Veltrane.commonAppDataPath}"'.freeze

# The gem the running Ruby must take from the index: its CPU's Linux gem
# where the index has it and it admits this Ruby (Debian 13's 3.3), or else
# the source gem (Debian 12's 3.1).
def gem_expected_here
  platform = "#{Gem::Platform.local.cpu}-linux-gnu"
  precompiled = "#{GEM_SPEC.full_name}-#{platform}"
  admits = releases_for(platform).map(&:version).include?(RbConfig::CONFIG["ruby_version"])
  admits && File.exist?(File.join(GEM_INDEX, "gems", "#{precompiled}.gem")) ? precompiled : GEM_SPEC.full_name
end

# Installs corsivet from the index with the gem command of the Linux Ruby
# `ruby`, which must get the gem `expected` (building the source gem), and
# loads it.
def install_from_gem_index(ruby, expected, *options)
  with_empty_gem_home(ruby) do |gem_command, gem_home|
    sh(*gem_command, *INSTALL_FROM_INDEX, "file://#{GEM_INDEX}/", *options)
    sh ruby, "-e", LOAD_AND_ANSWER
    assert_installed(gem_home, expected)
  end
end

# Fails unless the gem folder `gem_home` holds the gem `expected` alone.
def assert_installed(gem_home, expected)
  installed = Dir[File.join(gem_home, "specifications", "*.gemspec")].map { |spec| File.basename(spec, ".gemspec") }
  installed == [expected] or raise "#{gem_home} holds #{installed.inspect}, not #{expected} alone"
  puts "installed from the index, as it should be: #{expected}"
end

# Fails unless the ELF library `library` exports Init_Corsivet alone and
# needs no shared C++ runtime; and where it is `precompiled`, unless it is
# stripped, names no folder to search, and needs nothing but the C library,
# of no version newer than GLIBC_FLOOR. Says what it needs, and the newest
# glibc version.
def check_elf_tables(library, precompiled)
  read = ->(option) { IO.popen(["readelf", "--wide", option, library], &:read) }
  exported = read["--dyn-syms"].lines.map(&:split).select do |fields|
    fields.size >= 8 && %w[GLOBAL WEAK].include?(fields[4]) && fields[6] != "UND"
  end.map { |fields| fields[7].sub(/@.*/, "") }
  needed = read["--dynamic"].scan(/\(NEEDED\).*\[(.+)\]/).flatten
  versions = read["--version-info"].scan(/Name: (\S+)/).flatten.uniq
  glibc = versions.grep(/\AGLIBC_[\d.]+\z/).max_by { |version| Gem::Version.new(version[/[\d.]+/]) }
  faults = []
  faults << "exports #{exported.inspect}" unless exported == ["Init_Corsivet"]
  faults << "needs the shared C++ runtime" unless needed.grep(/libstdc\+\+|libgcc_s/).empty?
  if precompiled
    others = needed.reject { |name| name =~ /\A(lib(c|m|pthread|dl)\.so\.\d+|ld-linux[\w.-]*\.so\.\d+)\z/ }
    faults << "needs #{others.join(', ')}" unless others.empty?
    faults << "needs #{versions - versions.grep(/\AGLIBC_/)}" unless (versions - versions.grep(/\AGLIBC_/)).empty?
    faults << "needs #{glibc}, newer than GLIBC_#{GLIBC_FLOOR}" if glibc && Gem::Version.new(glibc[/[\d.]+/]) > Gem::Version.new(GLIBC_FLOOR)
    faults << "is not stripped" if read["--sections"].include?(".symtab")
    faults << "searches #{Regexp.last_match(1)}" if read["--dynamic"] =~ /\((?:RUNPATH|RPATH)\).*\[(.+)\]/
  end
  raise "#{library} #{faults.join('; ')}" unless faults.empty?

  puts "#{library} exports Init_Corsivet alone and needs #{needed.join(' ')}#{", #{glibc} at newest" if glibc}"
end
