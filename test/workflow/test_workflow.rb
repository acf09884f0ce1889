# The hosted CI workflow cannot be run here, so what it names is checked:
# every rake task a step runs must be one `rake -T` lists, and every file of
# the repository a step names must be there. Run with the workflow's path.
require "minitest/autorun"
require "open3"
require "yaml"

class WorkflowTest < Minitest::Test
  WORKFLOW = ARGV.shift
  ROOT = File.expand_path("../..", __dir__)

  def scripts
    YAML.load_file(WORKFLOW).fetch("jobs").values.flat_map { |job| job.fetch("steps") }.flat_map do |step|
      [step["run"], *step.fetch("with", {}).values].compact.map(&:to_s)
    end
  end

  def listed_tasks
    output, status = Open3.capture2e("rake", "-T", chdir: ROOT)
    assert status.success?, output
    output.scan(/^rake (\S+)/).flatten
  end

  def test_steps_name_only_listed_rake_tasks
    named = scripts.flat_map { |script| script.scan(/\brake((?:\s+[\w:]+(?=\s|\z))+)/).flatten.flat_map(&:split) }
    assert_empty named.uniq - listed_tasks
  end

  # Paths that start with one of the repository's own top-level folders or
  # name one of its top-level files, globs among them, must match a file.
  def test_steps_name_only_files_that_exist
    tracked, status = Open3.capture2("git", "ls-files", chdir: ROOT)
    assert status.success?
    tracked = tracked.split("\n")
    folders = tracked.grep(%r{/}).map { |file| file[%r{\A[^/]+}] }.uniq
    top_files = tracked.reject { |file| file.include?("/") }
    pattern = %r{(?<![\w./$-])(?:(?:#{Regexp.union(folders).source})/[\w.*/-]+|(?:#{Regexp.union(top_files).source})(?![\w./-]))}
    named = scripts.flat_map { |script| script.scan(pattern) }.uniq
    refute_empty named, "the workflow names no file of the repository: the pattern has gone stale"
    assert_empty named.reject { |path| tracked.any? { |file| File.fnmatch?(path, file) } }
  end
end
