# The protections a Debian package has, for every build whose binaries users install: the
# release build (amd64 packages, the demo), linux-i686 (i386 packages) and the two Windows
# builds (zips). The presets switch them on with one cache variable, EM_HARDEN.
#
# On Linux these are the flags of `dpkg-buildflags` with DEB_BUILD_MAINT_OPTIONS=hardening=+all,
# written out here rather than asked for at configure time: the demo builds without dpkg-dev,
# and the flags stay the same on every machine. They differ from Debian 12's in three ways:
# - _FORTIFY_SOURCE=3 rather than 2: level 3 also checks copies into objects whose size is
#   known only at run time. At level 2 no call in the driver gets a check (each one is either
#   proven safe at compile time or writes through a pointer of unknown size), so nothing
#   could tell that it was built fortified;
# - stack clash and control-flow protection, which later releases add for amd64 and i386
#   (the control-flow code is in; the binaries' mark is not, see below);
# - the build type keeps its own optimisation.
# _FORTIFY_SOURCE needs optimised code: the test code, built at -O0, undefines it
# (tests/CMakeLists.txt).
#
# On Windows (MinGW): the stack protector, with libssp linked statically as the rest of the
# runtime is, so the zip needs no DLL of it; ASLR with high-entropy addresses on 64-bit
# (--dynamicbase, --high-entropy-va) and DEP (--nxcompat), which the linker sets by default,
# asked for all the same.
option(EM_HARDEN "Build with the distribution's hardening flags (the presets whose binaries users install)" OFF)
if(NOT EM_HARDEN)
  return()
endif()
if(EM_SANITIZE OR EM_TSAN OR EM_FUZZ)
  # _FORTIFY_SOURCE and the sanitizers' own interceptors do not mix.
  message(FATAL_ERROR "EM_HARDEN is for the builds users install, not with the sanitizers or fuzzing")
endif()

add_compile_options(-fstack-protector-strong)

if(WIN32)
  add_link_options(-fstack-protector-strong LINKER:--dynamicbase LINKER:--nxcompat)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    add_link_options(LINKER:--high-entropy-va)
  endif()
  return()
endif()

add_compile_options(-U_FORTIFY_SOURCE -D_FORTIFY_SOURCE=3 -Wformat -Werror=format-security
                    -fstack-clash-protection)
add_link_options(LINKER:-z,relro LINKER:-z,now)

set(CMAKE_POSITION_INDEPENDENT_CODE ON)
include(CheckPIESupported)
check_pie_supported(LANGUAGES C CXX)

if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|AMD64|i[3-6]86)$")
  # Code for indirect-branch tracking and shadow stacks in everything compiled here. The
  # linker marks a binary so only when every object in it is marked, and glibc 2.36's start
  # files (crt1.o, crti.o, crtn.o) are built without the mark; crti.o's _init, which the
  # loader calls indirectly, has no branch target. Forcing the mark would claim a protection
  # that a kernel enforcing branch tracking would turn into a crash, so the binaries stay
  # unmarked until the C library's start files carry it, as every Debian 12 package does.
  add_compile_options(-fcf-protection)
endif()
