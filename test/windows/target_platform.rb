# Loaded by the host Ruby before extconf.rb, with a Windows interpreter's
# library folders first on the load path (and RubyGems off): that
# interpreter's own mkmf.rb and rbconfig.rb are then loaded, and mkmf writes
# a Makefile that builds for it. Its rbconfig.rb accepts only its own Ruby
# version, and mkmf tells platforms apart by RUBY_PLATFORM and
# File::ALT_SEPARATOR, so all three are made to say what the target would.
target_rbconfig = $LOAD_PATH.map { |folder| File.join(folder, "rbconfig.rb") }.find { |file| File.file?(file) }
target_version = File.read(target_rbconfig)[/ruby lib version \(([^)]+)\)/, 1] or
  abort "#{target_rbconfig} does not say which Ruby version it belongs to"

Object.send(:remove_const, :RUBY_VERSION)
RUBY_VERSION = target_version.freeze
require "rbconfig"
Object.send(:remove_const, :RUBY_PLATFORM)
RUBY_PLATFORM = RbConfig::CONFIG["arch"]
File.send(:remove_const, :ALT_SEPARATOR)
File::ALT_SEPARATOR = "\\".freeze
