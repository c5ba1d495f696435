# The 32-bit Windows build (see cmake/i686-w64-mingw32.cmake): its compiler
# and linker settings, its Wine prefix and the third-party code it builds
# from Debian's sources into build-tree prefixes:
#   libyaml      `apt-get source libyaml`, built and installed into deps/prefix,
#                linked statically
#   cpp-httplib  `apt-get source cpp-httplib`: the single-file header (Debian's
#                -dev package ships the header split from its compiled library)
#   googletest   /usr/src/googletest (package googletest), built as part of
#                this build
#   RapidJSON    Debian's headers, seen through deps/include so that no other
#                Linux header is on the include path
#   Boost        Debian's headers (Beast, Asio; header-only), seen through
#                deps/boost the same way
set(VYN_DEPS_DIR ${CMAKE_BINARY_DIR}/deps)

# The host is a 32-bit Windows program and guarantees only 4-byte stack
# alignment at a call: every function assumes no more and realigns where it
# needs to. The C++ runtime, libgcc and the thread library are linked in, so
# programs and the plugin need nothing beside them but system DLLs.
add_compile_options(-mincoming-stack-boundary=2)
# Link-time optimisation generates the code at the link: it gets the same rule.
add_link_options(-mincoming-stack-boundary=2)
add_link_options(-static-libgcc -static-libstdc++ -static)
# Windows 7 is the oldest system served (the HTTP library needs Vista's
# socket calls).
add_compile_definitions(_WIN32_WINNT=0x0601 WINVER=0x0601)

# Unpacks Debian's source package `package` under deps/src (once) and sets
# `out_dir` to its folder.
function(vyn_debian_source package out_dir)
  set(sources ${VYN_DEPS_DIR}/src)
  file(GLOB found LIST_DIRECTORIES true ${sources}/${package}-*)
  list(FILTER found EXCLUDE REGEX "\\.(tar\\..*|dsc)$")
  if(NOT found)
    file(MAKE_DIRECTORY ${sources})
    message(STATUS "Fetching Debian's source package ${package}")
    execute_process(COMMAND apt-get source -qq ${package}
                    WORKING_DIRECTORY ${sources} RESULT_VARIABLE result
                    OUTPUT_QUIET ERROR_VARIABLE errors)
    file(GLOB found LIST_DIRECTORIES true ${sources}/${package}-*)
    list(FILTER found EXCLUDE REGEX "\\.(tar\\..*|dsc)$")
    if(NOT result EQUAL 0 OR NOT found)
      message(FATAL_ERROR "apt-get source ${package} failed (run scripts/setup): ${errors}")
    endif()
  endif()
  list(GET found 0 folder)
  set(${out_dir} ${folder} PARENT_SCOPE)
endfunction()

# libyaml: configured, built and installed with this toolchain at configure
# time (a few seconds), so that the formats layer finds it like any library.
set(VYN_YAML_PREFIX ${VYN_DEPS_DIR}/prefix)
if(NOT EXISTS ${VYN_YAML_PREFIX}/lib/libyaml.a)
  vyn_debian_source(libyaml VYN_LIBYAML_SOURCE)
  set(yaml_build ${VYN_DEPS_DIR}/build/libyaml)
  execute_process(
    COMMAND ${CMAKE_COMMAND} -S ${VYN_LIBYAML_SOURCE} -B ${yaml_build} -G ${CMAKE_GENERATOR}
            -DCMAKE_TOOLCHAIN_FILE=${CMAKE_TOOLCHAIN_FILE} -DCMAKE_BUILD_TYPE=Release
            -DCMAKE_C_FLAGS=-mincoming-stack-boundary=2
            -DBUILD_SHARED_LIBS=OFF -DBUILD_TESTING=OFF
            -DCMAKE_INSTALL_PREFIX=${VYN_YAML_PREFIX}
    RESULT_VARIABLE result OUTPUT_QUIET)
  if(result EQUAL 0)
    execute_process(COMMAND ${CMAKE_COMMAND} --build ${yaml_build} --target install
                    RESULT_VARIABLE result OUTPUT_QUIET)
  endif()
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "building libyaml for Windows failed (see ${yaml_build})")
  endif()
endif()
set(VYN_YAML_INCLUDE ${VYN_YAML_PREFIX}/include CACHE PATH "libyaml headers (Windows build)")
set(VYN_YAML_LIBRARY ${VYN_YAML_PREFIX}/lib/libyaml.a CACHE FILEPATH "libyaml (Windows build)")
# yaml.h declares its functions as DLL imports unless told the library is static.
add_compile_definitions(YAML_DECLARE_STATIC)

# Header-only third-party code, each in a folder of its own.
file(MAKE_DIRECTORY ${VYN_DEPS_DIR}/include)
file(CREATE_LINK /usr/include/rapidjson ${VYN_DEPS_DIR}/include/rapidjson SYMBOLIC)
set(VYN_RAPIDJSON_INCLUDE ${VYN_DEPS_DIR}/include CACHE PATH "RapidJSON headers (Windows build)")
file(MAKE_DIRECTORY ${VYN_DEPS_DIR}/boost)
file(CREATE_LINK /usr/include/boost ${VYN_DEPS_DIR}/boost/boost SYMBOLIC)
set(VYN_BOOST_INCLUDE ${VYN_DEPS_DIR}/boost CACHE PATH "Boost headers (Windows build)")
vyn_debian_source(cpp-httplib VYN_HTTPLIB_SOURCE)
file(MAKE_DIRECTORY ${VYN_DEPS_DIR}/httplib)
file(COPY_FILE ${VYN_HTTPLIB_SOURCE}/httplib.h ${VYN_DEPS_DIR}/httplib/httplib.h ONLY_IF_DIFFERENT)
set(VYN_HTTPLIB_INCLUDE ${VYN_DEPS_DIR}/httplib CACHE PATH "cpp-httplib header (Windows build)")

# GoogleTest and GoogleMock from Debian's source copy (GTest::gtest, GTest::gmock,
# GTest::gtest_main).
if(VYN_BUILD_TESTS)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
endif()

# The Wine prefix, made once before any test runs (the first start takes a few
# seconds and parallel first starts would race). Off where Wine cannot run:
# its 32-bit loader needs a kernel that runs i386 programs itself
# (scripts/i386-exec); the programs are then built and checked, not run.
option(VYN_WINE_TESTS "Make the Wine prefix the test programs run in" ON)
if(VYN_WINE_TESTS AND NOT EXISTS ${VYN_WINEPREFIX}/system.reg)
  message(STATUS "Creating the Wine prefix ${VYN_WINEPREFIX}")
  execute_process(COMMAND ${CMAKE_CROSSCOMPILING_EMULATOR} wineboot --init
                  OUTPUT_QUIET ERROR_QUIET)
  execute_process(COMMAND /usr/bin/env WINEPREFIX=${VYN_WINEPREFIX} wineserver -w)
endif()
