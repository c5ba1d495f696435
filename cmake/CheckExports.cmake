# Fails unless the shared library LIBRARY exports exactly the symbols listed
# in EXPECTED (a ;-separated list) in its dynamic symbol table.
#   cmake -DNM=nm -DLIBRARY=lib.so -DEXPECTED=name -P CheckExports.cmake
execute_process(COMMAND ${NM} -D --defined-only ${LIBRARY}
                OUTPUT_VARIABLE listing RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "${NM} failed on ${LIBRARY}")
endif()
string(REPLACE "\n" ";" lines "${listing}")
set(exported)
foreach(line IN LISTS lines)
  if(line MATCHES "^[0-9a-fA-F]+ [A-Za-z] (.+)$")
    list(APPEND exported "${CMAKE_MATCH_1}")
  endif()
endforeach()
list(SORT exported)
set(expected ${EXPECTED})
list(SORT expected)
if(NOT exported STREQUAL expected)
  message(FATAL_ERROR "${LIBRARY} exports [${exported}], expected [${expected}]")
endif()
message(STATUS "${LIBRARY} exports exactly [${exported}]")
