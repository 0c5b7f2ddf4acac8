# Shared include roots: daemon code includes "core/...", "graph/..."; platform
# code "common/...", "log/...", "map/...".
set(OZR_INCLUDE_DIRS ${CMAKE_SOURCE_DIR}/src ${CMAKE_SOURCE_DIR}/platform)

# Adds every direct subfolder of DIR that has a CMakeLists.txt.
function(ozr_add_subdirs dir)
  file(GLOB children RELATIVE ${CMAKE_SOURCE_DIR}/${dir} ${CMAKE_SOURCE_DIR}/${dir}/*)
  list(SORT children)
  foreach(child ${children})
    if(IS_DIRECTORY ${CMAKE_SOURCE_DIR}/${dir}/${child}
       AND EXISTS ${CMAKE_SOURCE_DIR}/${dir}/${child}/CMakeLists.txt)
      add_subdirectory(${CMAKE_SOURCE_DIR}/${dir}/${child})
    endif()
  endforeach()
endfunction()

# ozr_library(NAME [LIBS ...]): a static library of every .cc file in the
# calling folder (recursively), with the shared include roots.
function(ozr_library name)
  cmake_parse_arguments(A "" "" "LIBS" ${ARGN})
  file(GLOB_RECURSE srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cc)
  if(srcs)
    add_library(${name} STATIC ${srcs})
    target_include_directories(${name} PUBLIC ${OZR_INCLUDE_DIRS})
    target_link_libraries(${name} PUBLIC ${A_LIBS})
  else()
    # A folder without sources yet still gives a static library, so that the
    # libraries may name each other in any order (cycles included).
    set(empty ${CMAKE_CURRENT_BINARY_DIR}/${name}_empty.cc)
    file(WRITE ${empty} "// ${name} has no sources yet\n")
    add_library(${name} STATIC ${empty})
    target_include_directories(${name} PUBLIC ${OZR_INCLUDE_DIRS})
    target_link_libraries(${name} PUBLIC ${A_LIBS})
  endif()
endfunction()

# ozr_test(NAME SOURCES ... [LIBS ...] [PREFIX p] [CPU] [SLOW]): a GoogleTest binary whose
# cases ctest lists one by one. SLOW: cases that take tens of seconds each (waiting on other
# processes), which a parallel ctest starts first so that they do not end the run alone.
# CPU marks a binary whose results may differ by CPU (byte
# order, alignment, word size): its cases carry the ctest label "cpu", and the target
# ozr_cpu_tests (tests/CMakeLists.txt) builds every such binary: the cross runs build and
# run only those.
function(ozr_test name)
  cmake_parse_arguments(A "CPU;SLOW" "PREFIX" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${A_SOURCES})
  target_include_directories(${name} PRIVATE ${OZR_INCLUDE_DIRS} ${CMAKE_SOURCE_DIR}/tests)
  target_link_libraries(${name} PRIVATE ${A_LIBS} GTest::gmock GTest::gtest_main)
  ozr_test_pch(${name})
  include(GoogleTest)
  if(NOT A_PREFIX)
    set(A_PREFIX "${name}.")
  endif()
  set(props ENVIRONMENT "OZR_BUILD_DIR=${CMAKE_BINARY_DIR}")
  if(A_SLOW)
    list(APPEND props COST 1000)
  endif()
  if(A_CPU)
    list(APPEND props LABELS cpu)
    add_dependencies(ozr_cpu_tests ${name})
  endif()
  gtest_discover_tests(${name} TEST_PREFIX ${A_PREFIX} DISCOVERY_MODE PRE_TEST
                       PROPERTIES ${props}
                       DISCOVERY_TIMEOUT 60)
endfunction()

# The GoogleTest and GoogleMock headers, parsed once per build rather than once per test
# source (about a second each): every test reuses the precompiled header of ozr_test_pch.
# The tests and ozr_test_pch share their compile options; a test's own definitions and
# include folders do not touch these headers.
function(ozr_test_pch name)
  if(NOT OZR_PCH)
    return()
  endif()
  if(NOT TARGET ozr_test_pch)
    set(anchor ${CMAKE_BINARY_DIR}/ozr_test_pch.cc)
    if(NOT EXISTS ${anchor})
      file(WRITE ${anchor} "// the precompiled GoogleTest headers' own object\n")
    endif()
    add_library(ozr_test_pch OBJECT ${anchor})
    target_link_libraries(ozr_test_pch PRIVATE GTest::gmock GTest::gtest)
    target_precompile_headers(ozr_test_pch PRIVATE <gtest/gtest.h> <gmock/gmock.h>)
  endif()
  target_precompile_headers(${name} REUSE_FROM ozr_test_pch)
endfunction()
