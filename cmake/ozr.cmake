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

# ozr_test(NAME SOURCES ... [LIBS ...] [PREFIX p]): a GoogleTest binary whose
# cases ctest lists one by one.
function(ozr_test name)
  cmake_parse_arguments(A "" "PREFIX" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${A_SOURCES})
  target_include_directories(${name} PRIVATE ${OZR_INCLUDE_DIRS} ${CMAKE_SOURCE_DIR}/tests)
  target_link_libraries(${name} PRIVATE ${A_LIBS} GTest::gmock GTest::gtest_main)
  include(GoogleTest)
  if(NOT A_PREFIX)
    set(A_PREFIX "${name}.")
  endif()
  gtest_discover_tests(${name} TEST_PREFIX ${A_PREFIX} DISCOVERY_MODE PRE_TEST
                       PROPERTIES ENVIRONMENT "OZR_BUILD_DIR=${CMAKE_BINARY_DIR}"
                       DISCOVERY_TIMEOUT 60)
endfunction()
