# What the Linux host builds with: libcurl (headers only; the library is opened at the first
# download), pugixml, libsodium and the window toolkit from Debian's packages.
find_package(PkgConfig REQUIRED)

# Files over 2 GiB on a 32-bit processor: off_t, ino_t and the calls that take them are 64 bits
# wide everywhere (64-bit processors have them so already). No library used here passes an off_t.
add_compile_definitions(_FILE_OFFSET_BITS=64)

# A 32-bit ARM (ARMv5) has no 64-bit atomic instructions: GCC calls libatomic for them. Linked
# where needed only (--as-needed), so the loader's executable asks for it only if it uses one.
include(CheckCXXSourceCompiles)
check_cxx_source_compiles("
  #include <atomic>
  #include <cstdint>
  std::atomic<std::uint64_t> count;
  int main() { return static_cast<int>(count.fetch_add(1)); }" FERROVAN_ATOMICS_BUILT_IN)
if(NOT FERROVAN_ATOMICS_BUILT_IN)
  link_libraries(-Wl,--push-state,--as-needed atomic -Wl,--pop-state)
endif()
find_package(pugixml REQUIRED)
pkg_check_modules(CURL REQUIRED IMPORTED_TARGET libcurl)
pkg_check_modules(SODIUM REQUIRED IMPORTED_TARGET libsodium)

option(FERROVAN_REQUIRE_WINDOW "Fail the configuration when the window front end cannot be built" OFF)
set(FERROVAN_HAVE_WINDOW OFF)
if(FERROVAN_WINDOW OR FERROVAN_REQUIRE_WINDOW)
  # The toolkit's own fltk-config, not its CMake package: Debian's package files refer to the
  # toolkit's designer program, which only a recommended package installs.
  find_program(FERROVAN_FLTK_CONFIG NAMES fltk-config)
  find_library(FERROVAN_FLTK_LIBRARY NAMES fltk)
  if(FERROVAN_FLTK_CONFIG AND FERROVAN_FLTK_LIBRARY)
    execute_process(COMMAND ${FERROVAN_FLTK_CONFIG} --includedir
                    OUTPUT_VARIABLE FERROVAN_FLTK_INCLUDE_DIR OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(CMAKE_SYSROOT)
      # A cross build's fltk-config names the folders as the target sees them.
      string(PREPEND FERROVAN_FLTK_INCLUDE_DIR ${CMAKE_SYSROOT})
    endif()
    set(FERROVAN_HAVE_WINDOW ON)
  elseif(FERROVAN_REQUIRE_WINDOW)
    message(FATAL_ERROR "FLTK not found (fltk-config and libfltk): install libfltk1.3-dev")
  else()
    message(STATUS "FLTK not found: building the console front end only")
  endif()
endif()

include(cmake/self_contained.cmake)
