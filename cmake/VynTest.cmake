# vyn_add_test(<name> SOURCES <files...> LIBS <libs...>)
#
# Builds one GoogleTest executable and registers it with CTest. Test binaries
# link the counting operator new/delete so that allocation tests see every
# heap allocation the code under test makes.
#
# vyn_finish_tests(), called once after every folder is added, makes two
# targets for the test stages, so that a stage builds only what it runs:
#   vyn_tests           every test program, the plugin library and the
#                       stand-in host program (the tests that are scripts run
#                       those two)
#   vyn_threaded_tests  the test programs that start threads, the ones the
#                       thread checker stage runs; their names go to
#                       threaded-tests.txt in the build folder
# A test program starts threads exactly when it links Threads::Threads,
# directly or through a library; a test source that names std::thread,
# std::jthread or std::async without that link fails the configure step, so
# that the thread checker never misses a program by omission.
if(VYN_BUILD_TESTS)
  enable_testing()
  # The Windows build makes GoogleTest from source (cmake/Windows.cmake).
  if(NOT TARGET GTest::gtest)
    find_package(GTest REQUIRED)
  endif()
  find_package(Threads REQUIRED)

  # GoogleTest's headers, precompiled once per build and reused by every test
  # program: parsing them is about a third of compiling a test source. The
  # owner is a program like the tests, so that the header is compiled with
  # their flags (position-independent executable code). A build through ccache
  # keeps plain includes, which the cache serves and precompiled ones defeat.
  option(VYN_TEST_PCH "Precompile GoogleTest's headers for the test programs" ON)
  if(VYN_TEST_PCH AND NOT CMAKE_CXX_COMPILER_LAUNCHER MATCHES "ccache")
    file(CONFIGURE OUTPUT ${CMAKE_BINARY_DIR}/vyn_test_pch.cpp CONTENT "int main() { return 0; }\n")
    add_executable(vyn_test_pch ${CMAKE_BINARY_DIR}/vyn_test_pch.cpp)
    target_link_libraries(vyn_test_pch PRIVATE GTest::gtest GTest::gmock)
    target_precompile_headers(vyn_test_pch PRIVATE <gtest/gtest.h> <gmock/gmock.h>)
  endif()
endif()

# Seconds a test program may run before CTest stops it. Raised where the i386
# programs run through an emulator (scripts/i386-exec), which is several times
# slower and slowest for the soak's thousands of calls.
set(VYN_TEST_TIMEOUT 300 CACHE STRING "Seconds a test program may run")

function(vyn_add_test name)
  if(NOT VYN_BUILD_TESTS)
    return()
  endif()
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} vyn_operator_new GTest::gtest GTest::gmock GTest::gtest_main)
  if(TARGET vyn_test_pch)
    target_precompile_headers(${name} REUSE_FROM vyn_test_pch)
  endif()
  add_test(NAME ${name} COMMAND ${name})
  # Temporary files go to a folder of the program's own in the build tree
  # (GoogleTest's TempDir() reads TEST_TMPDIR), so that runs of several builds
  # or checkouts on one machine never share a file.
  set(temp_dir ${CMAKE_CURRENT_BINARY_DIR}/${name}.tmp)
  file(MAKE_DIRECTORY ${temp_dir})
  set_tests_properties(${name} PROPERTIES TIMEOUT ${VYN_TEST_TIMEOUT}
                                           ENVIRONMENT TEST_TMPDIR=${temp_dir})
  set_property(GLOBAL APPEND PROPERTY VYN_TEST_PROGRAMS ${name})
endfunction()

# GoogleTest links Threads::Threads for its own locks, whatever a test does;
# the walk below leaves it out.
set(VYN_TEST_FRAMEWORK GTest::gtest GTest::gmock GTest::gtest_main)

# Sets `out` to TRUE when `target` links Threads::Threads, directly or
# through the libraries it links (`seen` holds the targets already walked, and
# the test framework).
function(_vyn_links_threads target seen out)
  get_target_property(type ${target} TYPE)
  set(libraries)
  if(NOT type STREQUAL "INTERFACE_LIBRARY")
    get_target_property(direct ${target} LINK_LIBRARIES)
    if(direct)
      list(APPEND libraries ${direct})
    endif()
  endif()
  get_target_property(interface ${target} INTERFACE_LINK_LIBRARIES)
  if(interface)
    list(APPEND libraries ${interface})
  endif()
  foreach(library IN LISTS libraries)
    string(REGEX REPLACE "^\\$<LINK_ONLY:(.*)>$" "\\1" library "${library}")
    if(library STREQUAL "Threads::Threads")
      set(${out} TRUE PARENT_SCOPE)
      return()
    endif()
    if(TARGET ${library} AND NOT library IN_LIST seen)
      list(APPEND seen ${library})
      _vyn_links_threads(${library} "${seen}" found)
      if(found)
        set(${out} TRUE PARENT_SCOPE)
        return()
      endif()
    endif()
  endforeach()
  set(${out} FALSE PARENT_SCOPE)
endfunction()

function(vyn_finish_tests)
  add_custom_target(vyn_tests)
  add_custom_target(vyn_threaded_tests)
  if(NOT VYN_BUILD_TESTS)
    return()
  endif()
  get_property(programs GLOBAL PROPERTY VYN_TEST_PROGRAMS)
  add_dependencies(vyn_tests ${programs} vyn_spectator vyn-devhost)
  set(threaded)
  foreach(program IN LISTS programs)
    _vyn_links_threads(${program} "${program};${VYN_TEST_FRAMEWORK}" links_threads)
    if(links_threads)
      list(APPEND threaded ${program})
      continue()
    endif()
    get_target_property(sources ${program} SOURCES)
    get_target_property(folder ${program} SOURCE_DIR)
    foreach(source IN LISTS sources)
      if(NOT IS_ABSOLUTE ${source})
        set(source ${folder}/${source})
      endif()
      file(STRINGS ${source} starts REGEX "std::(j?thread|async)[^:_a-z]")
      if(starts)
        message(FATAL_ERROR "${program}: ${source} starts threads, so the program must link "
                            "Threads::Threads (the thread checker stage picks programs by it)")
      endif()
    endforeach()
  endforeach()
  if(threaded)
    add_dependencies(vyn_threaded_tests ${threaded})
  endif()
  list(JOIN threaded "\n" lines)
  file(WRITE ${CMAKE_BINARY_DIR}/threaded-tests.txt "${lines}\n")
endfunction()
