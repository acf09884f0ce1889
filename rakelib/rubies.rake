# Builds the build roots and the cached Rubies of test/rubies/rubies.rb,
# and the lanes of the Linux Rubies: each installs the gem it is to get with
# its own gem command (the precompiled gem of its platform, or else the
# source gem, which it builds) and runs the Ruby tests against it; those of
# the precompiled Linux gems do so in their build root, those of another CPU
# through qemu-user. The build root's own Ruby has a lane too.
require "etc"
require "tempfile"

BUILD_ROOTS.each do |root|
  file root.home do
    mkdir_p RUBIES_CACHE
    sh "bash", BUILD_ROOT_RECIPE.first, root.home, root.suite, *root.packages
  end
end

[*WINDOWS_RUBIES, *LINUX_RUBIES].each do |interpreter|
  file interpreter.executable do
    # The root and the base Ruby must be there first, but they are no
    # source to rebuild from: entering a root updates its folder's time.
    Rake::Task[interpreter.base_ruby.executable].invoke if interpreter.base_ruby
    recipe = ["bash", interpreter.recipe_files.first, interpreter.home, *interpreter.recipe_arguments]
    if interpreter.root
      Rake::Task[interpreter.root.home].invoke
      sh(*interpreter.root.command(*recipe))
    else
      mkdir_p RUBIES_CACHE
      sh(*recipe)
    end
  end
  # What rake-compiler asks for, made by the build.
  file interpreter.rbconfig => interpreter.executable
end

desc "Build every Ruby the lanes use, once; with --multitask, as many at a time as --jobs says"
task rubies: %w[rubies:windows rubies:linux]

namespace :rubies do
  desc "Build the Windows Rubies (#{WINDOWS_RUBIES.map(&:short_version).join(', ')}), once, into #{RUBIES_CACHE}"
  task windows: WINDOWS_RUBIES.map(&:executable)

  desc "Build the Linux Rubies (#{LINUX_RUBIES.map(&:short_version).uniq.join(', ')}, " \
       "#{LINUX_RUBIES.map(&:cpu).uniq.join(' and ')}), once, into #{RUBIES_CACHE}"
  task linux: LINUX_RUBIES.map(&:executable)
end

# Has the kernel hand programs of each CPU in `cpus` to qemu-user, as Debian's
# qemu-user-static describes the entry, where no entry does so yet: with the
# interpreter opened at once (flag F), so that it runs them in a build root
# too. Says which it adds. Where binfmt_misc cannot be had, says which
# lanes are skipped (under CI, fails) and returns false.
def emulate(cpus, lanes)
  binfmt = "/proc/sys/fs/binfmt_misc"
  unless File.exist?(File.join(binfmt, "register")) || system("mount", "-t", "binfmt_misc", "binfmt_misc", binfmt)
    raise "#{lanes} need binfmt_misc, to run #{cpus.join(', ')} programs" if ENV["CI"]

    warn "Skipping #{lanes} of the #{cpus.join(', ')} Rubies: binfmt_misc cannot be mounted to run their programs"
    return false
  end
  cpus.each do |cpu|
    entry = File.join(binfmt, "qemu-#{cpu}")
    if File.exist?(entry)
      File.read(entry) =~ /\Aenabled\n(?:.*\n)*flags: \w*F/ or
        raise "#{entry} is disabled, or lacks flag F, which running #{cpu} programs in a build root needs"
      next
    end
    description = File.read("/usr/lib/binfmt.d/qemu-#{cpu}.conf").strip
    description = "#{description}F" unless description[/[^:]*\z/].include?("F")
    puts "Registering qemu-user for #{cpu} programs with binfmt_misc (#{entry})"
    File.write(File.join(binfmt, "register"), description)
  end
  true
end

# The CPUs whose Linux Rubies `lanes` can run here: the machine's own, and
# the others where qemu-user can be had. Given to rake in the build root.
def linux_cpus_runnable(lanes)
  emulated = LINUX_RUBIES.select(&:emulated?).map(&:cpu).uniq
  cpus = [NATIVE_CPU, *(emulated if emulate(emulated, lanes))]
  "CPUS=#{cpus.join(',')}"
end

# Runs the block for each Ruby of the Linux build root whose CPU CPUS names,
# the emulated ones, which take longest, first.
def each_linux_root_ruby_runnable(&lane)
  cpus = ENV.fetch("CPUS").split(",")
  rubies = LINUX_RUBIES.select { |interpreter| interpreter.root == LINUX_ROOT && cpus.include?(interpreter.cpu) }
  in_parallel(rubies.partition(&:emulated?).flatten, &lane)
end

# Runs the block for each of the Rubies `rubies`, as many at once as the
# machine has cores, each in a process of its own, since the lanes set their
# environment, and shows each one's output whole when it ends. Fails naming
# the Rubies whose block raised.
def in_parallel(rubies)
  running = {}
  failed = []
  pending = rubies.dup
  until pending.empty? && running.empty?
    while running.size < Etc.nprocessors && (interpreter = pending.shift)
      log = Tempfile.new("corsivet-lane-")
      $stdout.flush
      $stderr.flush
      pid = fork do
        $stdout.reopen(log.path, "w")
        $stderr.reopen($stdout)
        $stdout.sync = true
        begin
          yield interpreter
          exit!(0)
        rescue StandardError => e
          warn "#{e.class}: #{e.message}"
          exit!(1)
        end
      end
      running[pid] = [interpreter, log]
    end
    pid, status = Process.wait2
    interpreter, log = running.delete(pid)
    $stdout.write(File.read(log.path))
    log.close!
    failed << interpreter unless status.success?
  end
  raise "failed for #{failed.map(&:name).join(', ')}" unless failed.empty?
end

# Installs `gem_file` with the gem command of the Linux Ruby `ruby` into an
# empty gem folder, as a user's install does: a precompiled gem with nothing
# but that Ruby on the path, so that nothing can be compiled. Checks the
# tables of every library installed, and gives the gem's lib/ folder to the
# block.
def with_installed_gem(ruby, gem_file, precompiled)
  with_empty_gem_home(ruby) do |gem_command, gem_home|
    with_environment("PATH" => precompiled ? File.dirname(ruby) : ENV["PATH"]) do
      sh(*gem_command, "install", "--local", "--no-document", gem_file)
    end
    libraries = Dir[File.join(gem_home, "gems", "*", "lib", "**", LIBRARY_FILE)]
    raise "#{gem_file} installed no library" if libraries.empty?

    libraries.each { |library| check_elf_tables(library, precompiled) }
    yield Dir[File.join(gem_home, "gems", "*", "lib")].first
  end
end

# Runs the Ruby tests against `gem_file` installed by the Linux Ruby `ruby`,
# found through RubyGems with no -I; a Ruby with boxes runs them once more
# with every library loaded in a box.
def test_installed_gem(ruby, gem_file, precompiled)
  with_installed_gem(ruby, gem_file, precompiled) do
    run_tests = [ruby, "-e", "ARGV.each { |test| require test }", *RUBY_TESTS]
    sh(*run_tests)
    next unless system(ruby, "-e", "exit defined?(Ruby::Box) ? 0 : 1")

    with_environment("RUBY_BOX" => "1") { sh(*run_tests) }
  end
end

# The gem a Linux Ruby gets: the precompiled one of its platform, or the
# source gem.
def gem_for(interpreter)
  interpreter.precompiled? ? File.join(ROOT, precompiled_gem(interpreter.platform)) : GEM_FILE
end

# The lane of one cached Linux Ruby.
def test_linux_ruby(interpreter)
  test_installed_gem(interpreter.executable, gem_for(interpreter), interpreter.precompiled?)
end

namespace :bench do
  desc "Measure under Linux Ruby 2.0 and 4.0 (x86_64), with the gem each installs"
  task linux: [:gem, "gem:linux"] do
    Dir.mktmpdir("corsivet-bench-", BUILD_DIR) do |libraries|
      cp_r benchmark_ips_folder, libraries
      benched = LINUX_RUBIES.select { |interpreter| !interpreter.emulated? && %w[2.0 4.0].include?(interpreter.short_version) }
      benched.group_by(&:root).each do |root, rubies|
        if root
          sh(*root.command("rake", "bench:linux:here", "LIBRARIES=#{libraries}", "RUBIES=#{rubies.map(&:home).join(':')}"))
        else
          bench_linux_rubies(rubies, libraries)
        end
      end
    end
  end

  namespace :linux do
    # The same for the Rubies RUBIES names, in their build root.
    task :here do
      homes = ENV.fetch("RUBIES").split(":")
      bench_linux_rubies(LINUX_RUBIES.select { |interpreter| homes.include?(interpreter.home) }, ENV.fetch("LIBRARIES"))
    end
  end
end

def bench_linux_rubies(rubies, libraries)
  rubies.each do |interpreter|
    with_installed_gem(interpreter.executable, gem_for(interpreter), interpreter.precompiled?) do |lib|
      # A precompiled gem keeps each Ruby's library in a folder of its own.
      library_dir = [File.join(lib, interpreter.short_version), lib].find do |folder|
        File.exist?(File.join(folder, LIBRARY_FILE))
      end
      sh interpreter.executable, "-I", libraries, BENCH, library_dir
    end
  end
end

namespace :test do
  desc "Install the gem with Linux Ruby 2.0's own gem command and run the Ruby tests against it (built once)"
  task ruby20: [:gem, *LINUX_RUBIES.select(&:ruby20?).map(&:executable)] do
    LINUX_RUBIES.select(&:ruby20?).each { |interpreter| test_linux_ruby(interpreter) }
  end

  desc "Install the precompiled Linux gems with each Linux Ruby's own gem command in the Debian 11 root " \
       "(#{LINUX_PLATFORMS.join(', ')}; other CPUs under qemu-user) and run the Ruby tests against them"
  task linux_ruby: "gem:linux" do
    next unless root_present?("test:linux_ruby")
    if selected_linux_rubies.empty?
      raise "test:linux_ruby needs RUBY_ARCHIVES, the folder of its Rubies' source archives" if ENV["CI"]

      warn "Skipping test:linux_ruby: its Rubies are built from their source archives, in the folder RUBY_ARCHIVES names"
      next
    end
    sh(*LINUX_ROOT.command("rake", "test:linux_ruby:here", linux_cpus_runnable("test:linux_ruby")))
  end

  namespace :linux_ruby do
    # The same in the root, for its Rubies of the CPUs named.
    task(:here) { each_linux_root_ruby_runnable { |interpreter| test_linux_ruby(interpreter) } }
  end

  desc "Install the gem with the Debian 13 build root's Ruby and run the Ruby tests against it"
  task root_ruby: UCRT_ROOT.home do
    sh(*UCRT_ROOT.command("rake", "test:root_ruby:here"))
  end

  namespace :root_ruby do
    # The same for the Ruby running rake, in the build root.
    task(here: :gem) { test_installed_gem(RbConfig.ruby, GEM_FILE, false) }
  end
end
