# The loader travels as one downloaded file that must run on a device as it is, so its own
# executable carries the window toolkit, X's and the font libraries, the XML reader and the C++
# runtime, and asks the system for nothing but the C library at start (libcurl is opened at the
# first download). The tests and the other programs link as usual.
#
# A target that links the libraries below gets the static archives when its own property
# FERROVAN_STATIC_LINK is on, the shared libraries otherwise:
#   ferrovan_xml_library      the XML reader
#   ferrovan_crypto_library   the cryptography (libsodium)
#   ferrovan_window_library   the window toolkit and what it draws with (when the build has it)

# Links these from the C library's own parts, which must stay shared beside the dynamic loader.
set(FERROVAN_SHARED_C_LIBRARIES c m pthread dl rt resolv util)

# ferrovan_static_archives(<out> <link flags...>)
# Replaces each -lNAME by the path of libNAME.a, keeps the C library's parts as they are, and
# keeps only the last mention of each library: link flags list every library before what it
# needs, so the last mention still comes after everything that needs it.
function(ferrovan_static_archives out)
  set(archives)
  foreach(flag IN LISTS ARGN)
    if(flag MATCHES "^-l(.+)$")
      set(name ${CMAKE_MATCH_1})
      if(NOT name IN_LIST FERROVAN_SHARED_C_LIBRARIES)
        find_library(FERROVAN_ARCHIVE_${name} NAMES lib${name}.a)
        if(NOT FERROVAN_ARCHIVE_${name})
          message(FATAL_ERROR "lib${name}.a not found: install the -dev package that carries it "
                              "(scripts/install-deps.sh), or configure with "
                              "-DFERROVAN_SELF_CONTAINED=OFF")
        endif()
        set(flag ${FERROVAN_ARCHIVE_${name}})
      endif()
    elseif(flag MATCHES "^-L")
      continue()
    elseif(CMAKE_SYSROOT AND IS_ABSOLUTE "${flag}")
      # An archive named as the target sees it (fltk-config's own).
      string(PREPEND flag ${CMAKE_SYSROOT})
    endif()
    list(REMOVE_ITEM archives ${flag})
    list(APPEND archives ${flag})
  endforeach()
  set(${out} ${archives} PARENT_SCOPE)
endfunction()

# ferrovan_pkg_config_static(<out> <module>): the module's link flags for a static link.
function(ferrovan_pkg_config_static out module)
  execute_process(COMMAND ${PKG_CONFIG_EXECUTABLE} --static --libs ${module}
                  OUTPUT_VARIABLE flags OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "pkg-config knows no ${module}: install its -dev package")
  endif()
  separate_arguments(flags UNIX_COMMAND "${flags}")
  set(${out} ${flags} PARENT_SCOPE)
endfunction()

set(self_contained_default ON)
if(NOT FERROVAN_SANITIZE STREQUAL "" OR FERROVAN_FUZZ)
  # Sanitizer runtimes are shared libraries that must come first; they do not mix with a
  # static C++ runtime.
  set(self_contained_default OFF)
endif()
option(FERROVAN_SELF_CONTAINED
       "Link the loader's own libraries and C++ runtime into its executable"
       ${self_contained_default})
if(FERROVAN_SELF_CONTAINED AND (NOT FERROVAN_SANITIZE STREQUAL "" OR FERROVAN_FUZZ))
  message(FATAL_ERROR "FERROVAN_SELF_CONTAINED does not go with sanitizers: turn it OFF")
endif()

set(static_link "$<BOOL:$<TARGET_PROPERTY:FERROVAN_STATIC_LINK>>")
set(shared_link "$<NOT:${static_link}>")

add_library(ferrovan_xml_library INTERFACE)
if(FERROVAN_SELF_CONTAINED)
  ferrovan_pkg_config_static(xml_flags pugixml)
  ferrovan_static_archives(xml_archives ${xml_flags})
  target_link_libraries(ferrovan_xml_library INTERFACE
                        "$<${static_link}:${xml_archives}>" "$<${shared_link}:pugixml::pugixml>")
else()
  target_link_libraries(ferrovan_xml_library INTERFACE pugixml::pugixml)
endif()

add_library(ferrovan_crypto_library INTERFACE)
if(FERROVAN_SELF_CONTAINED)
  ferrovan_pkg_config_static(crypto_flags libsodium)
  ferrovan_static_archives(crypto_archives ${crypto_flags})
  target_link_libraries(ferrovan_crypto_library INTERFACE
                        "$<${static_link}:${crypto_archives}>" "$<${shared_link}:PkgConfig::SODIUM>")
else()
  target_link_libraries(ferrovan_crypto_library INTERFACE PkgConfig::SODIUM)
endif()
# Its header is found either way.
target_include_directories(ferrovan_crypto_library INTERFACE ${SODIUM_INCLUDE_DIRS})

add_library(ferrovan_window_library INTERFACE)
if(FERROVAN_HAVE_WINDOW)
  # Xlib and Xinerama are named for the display check and the screen's size, read before the
  # toolkit opens the display.
  find_package(X11 REQUIRED)
  if(NOT TARGET X11::Xinerama)
    message(FATAL_ERROR "Xinerama not found: install libxinerama-dev")
  endif()
  if(FERROVAN_SELF_CONTAINED)
    # The toolkit's own list names its archive and the libraries it needs; each of those that
    # pkg-config knows brings what it needs in turn.
    execute_process(COMMAND ${FERROVAN_FLTK_CONFIG} --ldstaticflags
                    OUTPUT_VARIABLE fltk_flags OUTPUT_STRIP_TRAILING_WHITESPACE)
    separate_arguments(fltk_flags UNIX_COMMAND "${fltk_flags}")
    set(window_flags)
    foreach(flag IN LISTS fltk_flags ITEMS -lXinerama -lX11)
      if(flag MATCHES "^-l(.+)$")
        string(TOLOWER ${CMAKE_MATCH_1} module)
        execute_process(COMMAND ${PKG_CONFIG_EXECUTABLE} --exists ${module}
                        RESULT_VARIABLE unknown)
        if(NOT unknown)
          ferrovan_pkg_config_static(module_flags ${module})
          list(APPEND window_flags ${module_flags})
          continue()
        endif()
      endif()
      list(APPEND window_flags ${flag})
    endforeach()
    ferrovan_static_archives(window_archives ${window_flags})
    target_link_libraries(ferrovan_window_library INTERFACE
                          "$<${static_link}:${window_archives}>"
                          "$<${shared_link}:${FERROVAN_FLTK_LIBRARY};X11::Xinerama;X11::X11>")
  else()
    target_link_libraries(ferrovan_window_library INTERFACE ${FERROVAN_FLTK_LIBRARY} X11::Xinerama
                          X11::X11)
  endif()
endif()

# ferrovan_link_self_contained(<target>): links the target's libraries and C++ runtime into it
# when the build is self-contained.
function(ferrovan_link_self_contained target)
  if(FERROVAN_SELF_CONTAINED)
    # --as-needed drops the C library's parts that nothing uses. The program stays
    # position-independent: it downloads and starts code, so its own addresses stay random too,
    # at the price of relocating the linked-in libraries at each start.
    set_target_properties(${target} PROPERTIES FERROVAN_STATIC_LINK ON)
    target_link_options(${target} PRIVATE -static-libstdc++ -static-libgcc -Wl,--as-needed)
  endif()
endfunction()
