# Link-time optimisation of the plugin library (option VYN_LTO): the shipped
# and measured builds optimise the library across all its units, and the test
# builds test that same optimised library.
#
# vyn_optimise_at_link(<target>) marks a shared library for link-time
# optimisation together with every static and object library of this project
# it is made from. Those libraries are compiled to "fat" objects, which carry
# both the compiler's intermediate code (read by the optimising link of the
# plugin) and ordinary machine code, so that the test programs linking the
# same libraries link as fast as without the option: every target that is not
# marked links with -fno-lto (GCC otherwise optimises any link that meets
# intermediate code). One compile of each unit thus serves both, and a build
# pays one optimising link, the plugin's.
#
# With CMAKE_INTERPROCEDURAL_OPTIMIZATION on (the benchmark build), every
# target is optimised at link, the benchmark programs and the peer libraries
# they measure included; the libraries then need no ordinary code.
option(VYN_LTO "Optimise the plugin library across its units at link time" OFF)

if(VYN_LTO OR CMAKE_INTERPROCEDURAL_OPTIMIZATION)
  include(CheckIPOSupported)
  check_ipo_supported(RESULT supported OUTPUT reason LANGUAGES C CXX)
  if(NOT supported)
    message(FATAL_ERROR "link-time optimisation is not available: ${reason}")
  endif()
endif()
if(VYN_LTO AND NOT CMAKE_INTERPROCEDURAL_OPTIMIZATION)
  add_link_options("$<$<NOT:$<BOOL:$<TARGET_PROPERTY:INTERPROCEDURAL_OPTIMIZATION>>>:-fno-lto>")
  # The symbol index of a fat library lists what its machine code defines.
  # binutils makes indexes through GCC's plugin when it finds it, which adds
  # what only the intermediate code defines (instances of the C++ runtime's
  # templates that the machine code takes from the runtime); a plain link
  # meeting such a library twice on its line then loads a member a second
  # time for them and fails on duplicate definitions. Naming a plugin that
  # does not exist keeps binutils from loading any. The optimising link needs
  # nothing more: every symbol of a fat object's intermediate code that
  # another unit may need has its machine code beside it.
  foreach(lang C CXX)
    set(CMAKE_${lang}_ARCHIVE_FINISH_IPO
        "\"${CMAKE_AR}\" --plugin ${CMAKE_BINARY_DIR}/no-plugin s <TARGET>")
  endforeach()
endif()

# Sets `out` to the project's static and object libraries that `target`
# links or takes objects from, directly or through others.
function(_vyn_link_parts target out)
  set(queue ${target})
  set(seen ${target})
  set(parts)
  while(queue)
    list(POP_FRONT queue current)
    get_target_property(next ${current} INTERFACE_LINK_LIBRARIES)
    get_target_property(type ${current} TYPE)
    if(NOT type STREQUAL "INTERFACE_LIBRARY")
      get_target_property(direct ${current} LINK_LIBRARIES)
      get_target_property(sources ${current} SOURCES)
      list(APPEND next ${direct})
      foreach(source IN LISTS sources)
        if(source MATCHES "^\\$<TARGET_OBJECTS:(.+)>$")
          list(APPEND next ${CMAKE_MATCH_1})
        endif()
      endforeach()
    endif()
    foreach(library IN LISTS next)
      string(REGEX REPLACE "^\\$<LINK_ONLY:(.*)>$" "\\1" library "${library}")
      if(NOT TARGET ${library} OR library IN_LIST seen)
        continue()
      endif()
      list(APPEND seen ${library})
      get_target_property(imported ${library} IMPORTED)
      if(imported)
        continue()
      endif()
      list(APPEND queue ${library})
      get_target_property(kind ${library} TYPE)
      if(kind MATCHES "^(STATIC|OBJECT)_LIBRARY$")
        list(APPEND parts ${library})
      endif()
    endforeach()
  endwhile()
  set(${out} ${parts} PARENT_SCOPE)
endfunction()

function(vyn_optimise_at_link target)
  if(NOT VYN_LTO OR CMAKE_INTERPROCEDURAL_OPTIMIZATION)
    return()
  endif()
  _vyn_link_parts(${target} parts)
  set_property(TARGET ${target} ${parts} PROPERTY INTERPROCEDURAL_OPTIMIZATION ON)
  # After the -fno-fat-lto-objects that the property adds, so it wins.
  set_property(TARGET ${parts} APPEND PROPERTY COMPILE_OPTIONS -ffat-lto-objects)
endfunction()
