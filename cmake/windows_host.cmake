# What the Windows host builds with: the Win32 API, and pugixml and libsodium compiled from
# Debian's source packages (scripts/fetch-debian-source.sh unpacks them; scripts/build-windows.sh
# passes them here).
add_compile_definitions(UNICODE _UNICODE NOMINMAX _WIN32_WINNT=0x0601 WINVER=0x0601)

set(FERROVAN_PUGIXML_SOURCE_DIR "" CACHE PATH "Debian's pugixml sources, unpacked")
if(NOT EXISTS "${FERROVAN_PUGIXML_SOURCE_DIR}/src/pugixml.cpp")
  message(FATAL_ERROR "FERROVAN_PUGIXML_SOURCE_DIR must name Debian's unpacked pugixml sources: "
                      "build with scripts/build-windows.sh")
endif()
add_library(ferrovan_xml_library STATIC ${FERROVAN_PUGIXML_SOURCE_DIR}/src/pugixml.cpp)
target_include_directories(ferrovan_xml_library SYSTEM PUBLIC ${FERROVAN_PUGIXML_SOURCE_DIR}/src)
# Its code is not ours to hold to our warnings.
target_compile_options(ferrovan_xml_library PRIVATE -w)

# libsodium's C sources as they stand, for a static library: its portable implementations (no
# processor feature is assumed) and the version header of its own Windows builds.
set(FERROVAN_SODIUM_SOURCE_DIR "" CACHE PATH "Debian's libsodium sources, unpacked")
set(sodium_dir "${FERROVAN_SODIUM_SOURCE_DIR}/src/libsodium")
if(NOT EXISTS "${sodium_dir}/include/sodium.h" OR
   NOT EXISTS "${FERROVAN_SODIUM_SOURCE_DIR}/builds/msvc/version.h")
  message(FATAL_ERROR "FERROVAN_SODIUM_SOURCE_DIR must name Debian's unpacked libsodium sources: "
                      "build with scripts/build-windows.sh")
endif()
enable_language(C)
file(GLOB_RECURSE sodium_sources CONFIGURE_DEPENDS "${sodium_dir}/*.c")
# sodium.h takes its version from sodium/version.h, which its own build would make beside it
# (the unpacked sources are the build's own copy).
configure_file(${FERROVAN_SODIUM_SOURCE_DIR}/builds/msvc/version.h
               ${sodium_dir}/include/sodium/version.h COPYONLY)
add_library(ferrovan_crypto_library STATIC ${sodium_sources})
target_include_directories(ferrovan_crypto_library SYSTEM PUBLIC ${sodium_dir}/include)
target_include_directories(ferrovan_crypto_library PRIVATE ${sodium_dir}/include/sodium)
target_compile_definitions(ferrovan_crypto_library PUBLIC SODIUM_STATIC)
target_compile_options(ferrovan_crypto_library PRIVATE -w)
# Its random numbers come from the system (RtlGenRandom).
target_link_libraries(ferrovan_crypto_library PUBLIC advapi32)

# The dialog is the system's own on this host.
set(FERROVAN_HAVE_WINDOW ON)

# Every program already links its runtimes statically (cmake/mingw-w64-x86_64.cmake).
function(ferrovan_link_self_contained target)
endfunction()
