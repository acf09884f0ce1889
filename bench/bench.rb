# Measures what the library costs a Ruby process, all in one run so that the
# figures are ratios on one machine. `rake bench` runs it on Linux, in about a
# minute, and `rake bench:linux` under each Linux Ruby built for the lanes;
# `rake bench:windows` under each Windows Ruby in Wine, per call only, as on
# a Ruby before 2.4, so this file runs on Ruby 2.0 as well. It prints
# Markdown table rows.
#
#   ruby bench/bench.rb LIBRARY_DIR
require "benchmark/ips"
require "etc"
require "rbconfig"

LIBRARY_DIR = ARGV.fetch(0)
$LOAD_PATH.unshift(LIBRARY_DIR)
require "Corsivet"

WINDOWS = RbConfig::CONFIG["host_os"] =~ /mswin|mingw/
LOAD_RUNS = 41

def median(values)
  values.sort[values.size / 2]
end

# Nanoseconds per call of the function, of Ruby's own C function that on
# Windows asks the shell the same question, and of the floor: a fresh UTF-8
# String of the text.
def per_call
  text = Veltrane.commonAppDataPath
  report = Benchmark.ips(time: 5, warmup: 2, quiet: true) do |job|
    job.report("Veltrane.commonAppDataPath") { Veltrane.commonAppDataPath }
    job.report("Etc.sysconfdir") { Etc.sysconfdir }
    job.report("String.new (floor)") { String.new(text) }
  end
  Hash[report.entries.map { |entry| [entry.label, 1e9 / entry.ips] }]
end

# Seconds one `require` of `feature` takes in a fresh interpreter.
def load_time(feature)
  script = "t = Process.clock_gettime(Process::CLOCK_MONOTONIC); require #{feature.inspect}; " \
           "print Process.clock_gettime(Process::CLOCK_MONOTONIC) - t"
  IO.popen([RbConfig.ruby, "--disable-gems", "-I", LIBRARY_DIR, "-e", script], &:read).to_f
end

# Median load times, with the two requires taking turns.
def load_cost
  times = { "Corsivet" => [], "etc" => [] }
  LOAD_RUNS.times { times.each { |feature, runs| runs << load_time(feature) } }
  times.transform_values { |runs| median(runs) }
end

# Resident size in KiB after 100k calls and after 5M, in a fresh interpreter.
def resident_growth
  script = <<-RUBY
    require "Corsivet"
    rss = -> { GC.start; File.read("/proc/self/status")[/VmRSS:\\s+(\\d+)/, 1].to_i }
    100_000.times { Veltrane.commonAppDataPath }
    early = rss.call
    4_900_000.times { Veltrane.commonAppDataPath }
    print early, " ", rss.call
  RUBY
  IO.popen([RbConfig.ruby, "-I", LIBRARY_DIR, "-e", script], &:read).split.map(&:to_i)
end

def verdict(met)
  met ? "met" : "not met"
end

calls = per_call
corsivet = calls["Veltrane.commonAppDataPath"]
call_ratio = corsivet / calls["Etc.sysconfdir"]
call_goal = WINDOWS ? 1.0 : 4.0

puts "| measure | Corsivet | reference | ratio | goal |"
puts "| --- | --- | --- | --- | --- |"
puts format("| per call%s, Ruby %s | %.0f ns | Etc.sysconfdir %.0f ns; String.new %.0f ns | %.2fx; %.2fx of the floor | " \
            "within %.0fx: %s |", WINDOWS ? " (Windows)" : "", RUBY_VERSION, corsivet, calls["Etc.sysconfdir"],
            calls["String.new (floor)"], call_ratio, corsivet / calls["String.new (floor)"], call_goal,
            verdict(call_ratio <= call_goal))
# Timing a load and reading the results take Ruby 2.4 (Process.clock_gettime,
# Hash#transform_values).
exit if WINDOWS || !{}.respond_to?(:transform_values)

loads = load_cost
load_ratio = loads["Corsivet"] / loads["etc"]
early, late = resident_growth
growth = late - early
puts format("| load (median of %d) | %.0f us | require \"etc\" %.0f us | %.2fx | within 1x: %s |",
            LOAD_RUNS, loads["Corsivet"] * 1e6, loads["etc"] * 1e6, load_ratio, verdict(load_ratio <= 1.0))
puts format("| size on disk | %d KiB | | | |", File.size(File.join(LIBRARY_DIR, "Corsivet.so")) / 1024)
puts format("| resident size | %d KiB after 100k calls, %d KiB after 5M | | growth %d KiB | under 1024 KiB: %s |",
            early, late, growth, verdict(growth < 1024))
