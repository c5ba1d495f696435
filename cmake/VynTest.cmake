# vyn_add_test(<name> SOURCES <files...> LIBS <libs...>)
#
# Builds one GoogleTest executable and registers it with CTest. Test binaries
# link the counting operator new/delete so that allocation tests see every
# heap allocation the code under test makes.
if(VYN_BUILD_TESTS)
  enable_testing()
  # The Windows build makes GoogleTest from source (cmake/Windows.cmake).
  if(NOT TARGET GTest::gtest)
    find_package(GTest REQUIRED)
  endif()
endif()

function(vyn_add_test name)
  if(NOT VYN_BUILD_TESTS)
    return()
  endif()
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} vyn_operator_new GTest::gtest GTest::gmock GTest::gtest_main)
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES TIMEOUT 300)
endfunction()
