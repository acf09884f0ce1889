# The gem's own name loads the library. The extension is required by its
# exact name, suffix included: the interpreter derives the entry point's name
# from the name asked for, and on a file system that ignores case a bare
# "Corsivet" could find this file again.
require "Corsivet.so"
