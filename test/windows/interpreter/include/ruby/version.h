#ifndef STAND_IN_RUBY_VERSION_H
#define STAND_IN_RUBY_VERSION_H

// Stand-in for the interpreter's version header: Ruby 2.0's interface.

#define RUBY_API_VERSION_MAJOR 2
#define RUBY_API_VERSION_MINOR 0
#define RUBY_API_VERSION_TEENY 0

#endif
