# What the Linux host builds with: libcurl (headers only; the library is opened at the first
# download), pugixml, libsodium and the window toolkit from Debian's packages.
find_package(PkgConfig REQUIRED)
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
    set(FERROVAN_HAVE_WINDOW ON)
  elseif(FERROVAN_REQUIRE_WINDOW)
    message(FATAL_ERROR "FLTK not found (fltk-config and libfltk): install libfltk1.3-dev")
  else()
    message(STATUS "FLTK not found: building the console front end only")
  endif()
endif()

include(cmake/self_contained.cmake)
