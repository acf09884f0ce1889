# Measures what the library costs a Ruby process, all in one run so that the
# figures are ratios on one machine. Run it with `rake bench`; it takes about
# a minute and prints a Markdown table.
#
#   ruby bench/bench.rb LIBRARY_DIR
require "benchmark/ips"
require "etc"
require "rbconfig"

LIBRARY_DIR = ARGV.fetch(0)
$LOAD_PATH.unshift(LIBRARY_DIR)
require "Corsivet"

LOAD_RUNS = 21

def median(values)
  values.sort[values.size / 2]
end

# Calls per second of the function, of Ruby's own C function answering the
# same question on Windows, and of the floor: a fresh UTF-8 String of the text.
def per_call
  text = Veltrane.commonAppDataPath
  report = Benchmark.ips(time: 5, warmup: 2, quiet: true) do |job|
    job.report("Veltrane.commonAppDataPath") { Veltrane.commonAppDataPath }
    job.report("Etc.sysconfdir") { Etc.sysconfdir }
    job.report("String.new (floor)") { String.new(text, encoding: Encoding::UTF_8) }
  end
  report.entries.map { |entry| [entry.label, 1e9 / entry.ips] }.to_h
end

# The C++ runtime library, which a process that has loaded no other C++ code
# must load along with Corsivet.
CXX_RUNTIME = `c++ -print-file-name=libstdc++.so.6`.strip

# Seconds one `require` of `feature` takes in a fresh interpreter started with
# `environment`.
def load_time(feature, environment)
  script = "t = Process.clock_gettime(Process::CLOCK_MONOTONIC); require #{feature.inspect}; " \
           "print Process.clock_gettime(Process::CLOCK_MONOTONIC) - t"
  IO.popen(environment, [RbConfig.ruby, "--disable-gems", "-I", LIBRARY_DIR, "-e", script], &:read).to_f
end

# Median load times, with the two requires taking turns; with `environment`.
def load_cost(environment = {})
  times = { "Corsivet" => [], "etc" => [] }
  LOAD_RUNS.times { times.each { |feature, runs| runs << load_time(feature, environment) } }
  times.transform_values { |runs| median(runs) }
end

# Resident size in KiB after 100k calls and after 5M, in a fresh interpreter.
def resident_growth
  script = <<~RUBY
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
loads = load_cost
loads_with_runtime = load_cost("LD_PRELOAD" => CXX_RUNTIME)
early, late = resident_growth
call_ratio = calls["Veltrane.commonAppDataPath"] / calls["Etc.sysconfdir"]
load_ratio = loads["Corsivet"] / loads["etc"]
load_ratio_with_runtime = loads_with_runtime["Corsivet"] / loads_with_runtime["etc"]
growth = late - early

puts "| measure | Corsivet | reference | ratio | goal |"
puts "| --- | --- | --- | --- | --- |"
puts format("| per call | %.0f ns | Etc.sysconfdir %.0f ns; String.new %.0f ns | %.2fx; %.2fx of the floor | within 4x: %s |",
            calls["Veltrane.commonAppDataPath"], calls["Etc.sysconfdir"], calls["String.new (floor)"],
            call_ratio, calls["Veltrane.commonAppDataPath"] / calls["String.new (floor)"], verdict(call_ratio <= 4))
puts format("| load (median of %d) | %.0f us | require \"etc\" %.0f us | %.2fx | within 1.15x: %s |",
            LOAD_RUNS, loads["Corsivet"] * 1e6, loads["etc"] * 1e6, load_ratio, verdict(load_ratio <= 1.15))
puts format("| load, C++ runtime already loaded | %.0f us | require \"etc\" %.0f us | %.2fx | within 1.15x: %s |",
            loads_with_runtime["Corsivet"] * 1e6, loads_with_runtime["etc"] * 1e6, load_ratio_with_runtime,
            verdict(load_ratio_with_runtime <= 1.15))
puts format("| resident size | %d KiB after 100k calls, %d KiB after 5M | | growth %d KiB | under 1024 KiB: %s |",
            early, late, growth, verdict(growth < 1024))
