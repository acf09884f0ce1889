# Loaded by the host Ruby before extconf.rb, with the Windows interpreter's
# rbconfig.rb first on the load path (and RubyGems off): mkmf then writes a
# Makefile that builds for that interpreter. mkmf tells platforms apart by
# these two constants, so they are made to say Windows too.
require "rbconfig"

Object.send(:remove_const, :RUBY_PLATFORM)
RUBY_PLATFORM = RbConfig::CONFIG["arch"]
File.send(:remove_const, :ALT_SEPARATOR)
File::ALT_SEPARATOR = "\\".freeze
