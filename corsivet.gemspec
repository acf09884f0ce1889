Gem::Specification.new do |spec|
  spec.name = "corsivet"
  spec.version = "0.1.0"
  spec.authors = ["The Corsivet developers"]
  spec.license = "MIT"
  spec.summary = "The machine-wide application-data folder, as a UTF-8 String"
  spec.description = "A small native extension that defines the module Veltrane, whose one " \
                     "function, Veltrane.commonAppDataPath, answers with the folder the machine " \
                     "keeps for application data shared by all of its users: on Windows the " \
                     "all-users folder the shell reports (typically C:\\ProgramData), on macOS " \
                     "/Library/Application Support, on Linux and other Unix systems /usr/share. " \
                     'Load it with require "corsivet".'
  spec.required_ruby_version = ">= 2.0"

  spec.files = Dir["extension/*.{rb,h,cpp}", "module_location/*.{h,cpp}", "sig/*.rbs"] +
               %w[lib/corsivet.rb README.md CHANGELOG.md LICENSE]
  spec.extensions = ["extension/extconf.rb"]
  spec.require_paths = ["lib"]
  spec.extra_rdoc_files = ["README.md", "extension/corsivet.cpp"]
  # RubyGems documents the extension's folder too, where the build leaves its
  # Makefile and objects: only the C++ sources there are documentation.
  spec.rdoc_options = ["--main", "README.md", "--exclude", '\Aextension/(?!.+\.cpp\z)']
end
