# The gem's own name loads the library. A gem built from source holds it
# here, as Corsivet.so, and so does a precompiled gem built for one Ruby; a
# precompiled gem built for several holds one for each, in a folder named
# after that Ruby's version (3.3/, 3.4/), which is put on the load path so
# that "Corsivet" names it from then on.
#
# The library is required by its exact name, suffix included: the
# interpreter derives the entry point's name from the name asked for, and on
# a file system that ignores case a bare "Corsivet" could find this file.
precompiled_for = Dir[File.join(__dir__, "*", "Corsivet.so")].map { |library| File.basename(File.dirname(library)) }
this_ruby = RUBY_VERSION[/\A\d+\.\d+/]
if precompiled_for.include?(this_ruby)
  folder = File.join(__dir__, this_ruby)
  $LOAD_PATH.unshift(folder) unless $LOAD_PATH.include?(folder)
elsif !precompiled_for.empty?
  raise LoadError, "this corsivet gem is precompiled for Ruby #{precompiled_for.sort.join(' and ')}, not for " \
                   "Ruby #{RUBY_VERSION}: install the source gem instead (gem install corsivet --platform ruby)"
end
begin
  require "Corsivet.so"
rescue LoadError => error
  # did_you_mean appends its suggestions to the message, on lines of their
  # own, where Ruby has it: a sentence added goes on from the original.
  original = error.respond_to?(:original_message) ? error.original_message : error.message
  # A precompiled library that is there and does not load (a C library
  # older than it needs, another CPU) gets the loader's word, which can
  # mislead ("No such file or directory" for a file that is there): what to
  # do instead follows it.
  if precompiled_for.include?(this_ruby)
    raise LoadError, "#{original}: the precompiled library did not load on this system; install the source gem " \
                     "with `gem install corsivet --platform=ruby`, or with Bundler " \
                     "`bundle config set force_ruby_platform true`"
  end
  # A source checkout holds no library until it is built: Bundler, for one,
  # builds no extension of a gem it takes from a path. A library that is
  # there and does not load (built for another Ruby, say) is another matter,
  # which the loader's own message tells.
  require "rbconfig"
  checkout = File.expand_path("..", __dir__)
  built = File.exist?(File.join(__dir__, "Corsivet.#{RbConfig::CONFIG['DLEXT']}"))
  raise if built || !File.exist?(File.join(checkout, "Rakefile"))

  raise LoadError, "#{original}: this source checkout of corsivet (#{checkout}) has not been built; " \
                   "`rake compile` there builds the library (or install the gem: gem install corsivet)"
end
