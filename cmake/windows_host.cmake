# What the Windows host builds with: the Win32 API, and pugixml compiled from Debian's source
# package (scripts/fetch-pugixml-source.sh unpacks it; scripts/build-windows.sh passes it here).
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

# The dialog is the system's own on this host.
set(FERROVAN_HAVE_WINDOW ON)

# Every program already links its runtimes statically (cmake/mingw-w64-x86_64.cmake).
function(ferrovan_link_self_contained target)
endfunction()
