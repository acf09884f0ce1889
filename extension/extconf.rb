# Builds Corsivet.so (Corsivet.bundle on macOS) with Ruby's own mkmf.
#
#   ruby extconf.rb [--enable-werror] [--disable-static-runtime] && make
#
# --enable-werror turns compiler warnings into errors, as the development and
# CI builds do; the gem build leaves it off so a newer compiler's new warnings
# cannot stop an install. --enable-sanitizers builds with AddressSanitizer and
# UndefinedBehaviorSanitizer, for the sanitizer test lane.
# --disable-static-runtime links the shared C++ runtime instead of linking it
# into the library (also `gem install corsivet -- --disable-static-runtime`).
require "mkmf"
require "shellwords"

windows = RbConfig::CONFIG["host_os"] =~ /mswin|mingw/
macos = RbConfig::CONFIG["host_os"] =~ /darwin/
# Cygwin is a POSIX system, but its libraries are Windows DLLs.
elf = !windows && !macos && RbConfig::CONFIG["host_os"] !~ /cygwin/
platform = windows ? "windows" : "posix"
# GCC and clang both answer to GCC-style options; MSVC does not.
gcc_style = RbConfig::CONFIG["GCC"] == "yes"
sanitizers = enable_config("sanitizers", false)

# Ruby records "false" when it was built where no C++ compiler was found.
compiler = Shellwords.split(RbConfig::CONFIG["CXX"].to_s).first
unless compiler && compiler != "false" && find_executable(compiler)
  how = if windows
          "RubyInstaller's development kit brings one (ridk install)"
        else
          "install one, such as g++ (apt-get install g++ on Debian and Ubuntu)"
        end
  abort "Corsivet is written in C++ and needs a C++ compiler#{" (#{compiler})" if compiler}: " \
        "#{how}, then install the gem again"
end

# Whether `source` compiles and links as a C++ program with `flags`. mkmf's
# own checks compile C, and C++ only from Ruby 2.7 on, so this runs the C++
# compiler itself, logging to mkmf.log as mkmf's checks do.
def try_link_cxx(source, flags)
  File.write("conftest.cc", source)
  log_src(source)
  xsystem("#{RbConfig::CONFIG['CXX']} #{flags} -o conftest#{RbConfig::CONFIG['EXEEXT']} conftest.cc")
ensure
  Dir["conftest*"].each { |file| File.delete(file) }
end

# The script binding lives here; the record of the library's own path in
# module_location/. Each contributes its portable files and its platform's.
$srcs = %W[corsivet.cpp common_app_data_#{platform}.cpp
           module_path.cpp module_path_#{platform}.cpp]
$VPATH << "$(srcdir)/../module_location"
$INCFLAGS << " -I$(srcdir)/../module_location"

# The flags the Makefile will compile C++ with, expanded as make will expand
# them. Ruby 2.0's mkmf refers to $(cxxflags) there without defining it, so
# its C++ flags hold no optimisation level, whatever the interpreter records.
def makefile_cxxflags
  variables = Hash[configuration("$(srcdir)").join("\n").scan(/^(\w+) *= *(.*)$/)]
  RbConfig.expand($CXXFLAGS.dup, variables)
end

if gcc_style
  $CXXFLAGS << " -O2" unless makefile_cxxflags =~ /(\A|\s)-O/
  $CXXFLAGS << " -std=c++11 -Wall -Wextra -fvisibility=hidden -fvisibility-inlines-hidden"
  $CXXFLAGS << " -Werror" if enable_config("werror", false)
  # The interpreter's headers are not ours to keep warning-free: treat them
  # as system headers, which also makes the compiler drop their plain -I.
  $CXXFLAGS << " -isystem $(hdrdir) -isystem $(arch_hdrdir)"
  if sanitizers
    sanitizer_flags = " -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer"
    $CXXFLAGS << sanitizer_flags
    $DLDFLAGS << sanitizer_flags
  end
end

# The export table holds the entry point alone, whatever the compiler makes
# visible: mkmf writes a definition file for Windows DLLs; the ELF and macOS
# linkers are told, which also keeps the runtime linked in below out of it.
if gcc_style && macos
  $DLDFLAGS << " -Wl,-exported_symbol,_Init_Corsivet"
elsif gcc_style && elf
  File.write("exports.map", "{ global: Init_Corsivet; local: *; };\n")
  $DLDFLAGS << " -Wl,--version-script=exports.map"
end

# Link the C++ and GCC runtimes into the library where the toolchain can, so
# that loading it needs no libstdc++ on the search path (the Windows
# development kit's runtime DLLs are not on it) and costs no relocation of a
# shared one. macOS always has its C++ library. The sanitizer build keeps the
# shared runtime, whose allocations the sanitizer must see.
if gcc_style && !macos && enable_config("static-runtime", !sanitizers)
  runtime_flags = "-static-libstdc++ -static-libgcc"
  uses_runtime = "#include <string>\nint main(int count, char**) { return (int)std::string(count, 'x').size(); }\n"
  links = checking_for("a static C++ runtime") { try_link_cxx(uses_runtime, runtime_flags) }
  if links
    # Unused parts of the runtime are dropped again.
    $CXXFLAGS << " -ffunction-sections -fdata-sections"
    $DLDFLAGS << " #{runtime_flags} -Wl,--gc-sections"
    # A mingw-w64 GCC of the POSIX thread model (MSYS2's, RubyInstaller's
    # kit's) links its runtime against winpthread's DLL, which a Windows
    # Ruby need not find either: linking the whole static library first
    # leaves nothing for that DLL to give.
    if windows && `#{RbConfig::CONFIG['CXX']} -v 2>&1` =~ /^Thread model: posix/
      winpthread_flags = "-Wl,-Bstatic,--whole-archive -lwinpthread -Wl,--no-whole-archive,-Bdynamic"
      if checking_for("a static winpthread") { try_link_cxx(uses_runtime, "#{runtime_flags} #{winpthread_flags}") }
        $DLDFLAGS << " #{winpthread_flags}"
      end
    end
  else
    message "Corsivet links the shared C++ runtime, which must then be found when the library loads\n"
  end
end

if windows
  have_library("shell32") or abort "shell32 is needed for the folder query"
else
  # dladdr finds the library's own file; glibc before 2.34 keeps it in libdl.
  have_library("dl", "dladdr", "dlfcn.h")
end

# Interpreters with Ractors run the function in any Ractor: it keeps no state.
have_func("rb_ext_ractor_safe", "ruby.h")

# mkmf has the library search the interpreter's lib folder (RUNPATH) for
# libruby; a static interpreter has none there, and the folder, which for a
# precompiled library is the build machine's, would only be searched first
# for the C library at every load. The checks above link against it.
$DEFLIBPATH.delete("$(libdir)") if elf && RbConfig::CONFIG["ENABLE_SHARED"] == "no"

create_makefile("Corsivet")
