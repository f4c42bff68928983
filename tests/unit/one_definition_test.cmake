# Fails when two external functions of the given static libraries share a name
# once their ABI tags are left out. libstdc++ tells such a pair apart by the
# [abi:cxx11] tag of a std::string result; other standard libraries do not,
# and would refuse to link them.
#   cmake -DNM=<nm> -DLIBRARIES=<a;b;...> -P one_definition_test.cmake

set(seen "")
set(twice "")
foreach(library ${LIBRARIES})
  execute_process(COMMAND ${NM} --defined-only ${library} RESULT_VARIABLE status OUTPUT_VARIABLE listing
                  ERROR_VARIABLE errors)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${NM} ${library}: ${errors}")
  endif()
  string(REPLACE ";" "," listing "${listing}")
  string(REPLACE "\n" ";" listing "${listing}")
  foreach(line ${listing})
    if(line MATCHES "^[0-9a-f]+ T (.*)$")
      string(REPLACE "B5cxx11" "" name "${CMAKE_MATCH_1}")  # the mangled [abi:cxx11]
      list(FIND seen "${name}" index)
      if(index GREATER -1)
        list(APPEND twice "${name}")
      else()
        list(APPEND seen "${name}")
      endif()
    endif()
  endforeach()
endforeach()
if(twice)
  list(JOIN twice "\n  " names)
  message(FATAL_ERROR "defined twice:\n  ${names}")
endif()
list(LENGTH seen count)
message(STATUS "${count} functions, each defined once")
