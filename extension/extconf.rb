# Builds Corsivet.so (Corsivet.bundle on macOS) with Ruby's own mkmf.
#
#   ruby extconf.rb [--enable-werror] && make
#
# --enable-werror turns compiler warnings into errors, as the development and
# CI builds do; the gem build leaves it off so a newer compiler's new warnings
# cannot stop an install. --enable-sanitizers builds with AddressSanitizer and
# UndefinedBehaviorSanitizer, for the sanitizer test lane.
require "mkmf"

platform = RbConfig::CONFIG["host_os"] =~ /mswin|mingw|cygwin/ ? "windows" : "posix"

# The script binding lives here; the record of the library's own path in
# module_location/. Each contributes its portable files and its platform's.
$srcs = %W[corsivet.cpp common_app_data_#{platform}.cpp
           module_path.cpp module_path_#{platform}.cpp]
$VPATH << "$(srcdir)/../module_location"
$INCFLAGS << " -I$(srcdir)/../module_location"

$CXXFLAGS << " -std=c++11 -Wall -Wextra -fvisibility=hidden -fvisibility-inlines-hidden"
$CXXFLAGS << " -Werror" if enable_config("werror", false)
if enable_config("sanitizers", false)
  sanitizers = " -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer"
  $CXXFLAGS << sanitizers
  $DLDFLAGS << sanitizers
end
# The interpreter's headers are not ours to keep warning-free: treat them as
# system headers, which also makes the compiler drop their plain -I entries.
$CXXFLAGS << " -isystem $(hdrdir) -isystem $(arch_hdrdir)"

if platform == "windows"
  have_library("shell32") or abort "shell32 is needed for the folder query"
else
  # dladdr finds the library's own file; glibc before 2.34 keeps it in libdl.
  have_library("dl", "dladdr", "dlfcn.h")
end

create_makefile("Corsivet")
