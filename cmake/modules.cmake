# ombrix_module(NAME DEPS <targets...>)
# A static library named ombrix_<NAME> from every .cpp in the calling directory.
function(ombrix_module name)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  if(sources)
    add_library(ombrix_${name} STATIC ${sources})
    target_link_libraries(ombrix_${name} PUBLIC ${ARG_DEPS})
  else()
    add_library(ombrix_${name} INTERFACE)
    target_link_libraries(ombrix_${name} INTERFACE ${ARG_DEPS})
  endif()
endfunction()

# ombrix_tests(NAME DEPS <targets...>)
# One GoogleTest program named <NAME>_tests from every .cpp in the calling directory.
function(ombrix_tests name)
  cmake_parse_arguments(ARG "" "" "DEPS;PROPERTIES" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  if(NOT sources)
    return()
  endif()
  add_executable(${name}_tests ${sources})
  target_link_libraries(${name}_tests PRIVATE ${ARG_DEPS} GTest::gtest GTest::gmock GTest::gtest_main)
  ombrix_test_program(${name}_tests ${ARG_DEPS})
  target_compile_definitions(${name}_tests PRIVATE
    OMBRIX_BUILD_DIR="${CMAKE_BINARY_DIR}" OMBRIX_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
  gtest_discover_tests(${name}_tests DISCOVERY_TIMEOUT 30 DISCOVERY_MODE PRE_TEST
    PROPERTIES TIMEOUT 120 ${ARG_PROPERTIES})
endfunction()

# ombrix_test_program(TARGET <libraries it links...>)
# How every test program is compiled: unoptimised whatever the build type
# (the product, the stand-ins and the benchmarks keep it), its files compiled
# together in batches (unity build), and with OMBRIX_PCH the precompiled
# header of the third-party headers.
function(ombrix_test_program target)
  target_compile_options(${target} PRIVATE ${OMBRIX_TEST_COMPILE_OPTIONS})
  set_target_properties(${target} PROPERTIES UNITY_BUILD ${OMBRIX_UNITY}
    UNITY_BUILD_BATCH_SIZE ${OMBRIX_UNITY_BATCH})
  if(OMBRIX_PCH)
    # The header must be made with the same predefined macros: OpenMP's
    # programs take the one made with -fopenmp.
    ombrix_links_openmp(openmp ${ARGN})
    if(openmp)
      target_precompile_headers(${target} REUSE_FROM ombrix_test_pch_openmp)
    else()
      target_precompile_headers(${target} REUSE_FROM ombrix_test_pch)
    endif()
  endif()
endfunction()

# The options every test program is compiled with (after the build type's).
set(OMBRIX_TEST_COMPILE_OPTIONS -O0)
# On by default, so that two test files that clash when compiled together
# show it in every build, not only in the test command's.
option(OMBRIX_UNITY "Compile each test program's files together in batches" ON)
set(OMBRIX_UNITY_BATCH 8 CACHE STRING "Files of a test program compiled together")

# ombrix_test_pch()
# The targets whose precompiled header the test programs reuse (OMBRIX_PCH):
# empty programs built as the test programs are (position-independent
# executables, the same libraries' usage requirements), one with OpenMP.
function(ombrix_test_pch)
  foreach(pch ombrix_test_pch ombrix_test_pch_openmp)
    add_executable(${pch} ${PROJECT_SOURCE_DIR}/cmake/test_pch_main.cpp)
    target_compile_options(${pch} PRIVATE ${OMBRIX_TEST_COMPILE_OPTIONS})
    target_link_libraries(${pch} PRIVATE GTest::gtest nlohmann_json::nlohmann_json spdlog::spdlog fmt::fmt)
    target_precompile_headers(${pch} PRIVATE
      <gtest/gtest.h> <nlohmann/json.hpp> <spdlog/spdlog.h> <fmt/format.h>
      <algorithm> <chrono> <filesystem> <fstream> <functional> <map> <memory> <optional>
      <sstream> <string> <thread> <vector>)
  endforeach()
  target_link_libraries(ombrix_test_pch_openmp PRIVATE OpenMP::OpenMP_CXX)
endfunction()

# ombrix_links_openmp(OUT <targets...>)
# OUT is true when any of the targets links OpenMP, directly or through the
# libraries it links.
function(ombrix_links_openmp out)
  set(pending ${ARGN})
  set(seen)
  while(pending)
    list(POP_FRONT pending item)
    string(REGEX REPLACE "^\\$<LINK_ONLY:(.*)>$" "\\1" item "${item}")
    if(item STREQUAL "OpenMP::OpenMP_CXX")
      set(${out} TRUE PARENT_SCOPE)
      return()
    endif()
    if(TARGET ${item} AND NOT item IN_LIST seen)
      list(APPEND seen ${item})
      get_target_property(libs ${item} INTERFACE_LINK_LIBRARIES)
      if(libs)
        list(APPEND pending ${libs})
      endif()
    endif()
  endwhile()
  set(${out} FALSE PARENT_SCOPE)
endfunction()
