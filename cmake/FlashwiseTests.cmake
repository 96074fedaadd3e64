# Test code (the test programs, their support, GoogleTest) is built to build quickly:
# its optimisation costs most of a build's time and buys nothing, while the code under
# test is built as it ships. The fuzz build leaves its targets as they are.
if(FLASHWISE_FUZZ)
  set(FLASHWISE_TEST_CODE_OPTIONS "")
elseif(FLASHWISE_WINDOWS)
  set(FLASHWISE_TEST_CODE_OPTIONS $<$<COMPILE_LANGUAGE:C,CXX>:-Og>)
else()
  set(FLASHWISE_TEST_CODE_OPTIONS $<$<COMPILE_LANGUAGE:C,CXX>:-O0>)
endif()

# flashwise_test_code(TARGET...): these targets are test code.
function(flashwise_test_code)
  foreach(target ${ARGN})
    target_compile_options(${target} PRIVATE ${FLASHWISE_TEST_CODE_OPTIONS})
  endforeach()
endfunction()

# flashwise_host_test(NAME SOURCES ... LIBS ... [LABELS ...])
# A GoogleTest program of the host build, registered in CTest with the label "host".
function(flashwise_host_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS;LABELS" ${ARGN})
  if(FLASHWISE_WINDOWS)
    return()
  endif()
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest_main GTest::gmock)
  add_test(NAME ${name} COMMAND ${name} --gtest_brief=1)
  set_tests_properties(${name} PROPERTIES LABELS "host;${T_LABELS}" TIMEOUT 600)
endfunction()

if(FLASHWISE_WINDOWS AND EXISTS ${CMAKE_SOURCE_DIR}/cmake/WineTest.cmake)
  include(${CMAKE_SOURCE_DIR}/cmake/WineTest.cmake)
endif()
