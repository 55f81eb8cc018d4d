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
  target_compile_definitions(${name}_tests PRIVATE
    OMBRIX_BUILD_DIR="${CMAKE_BINARY_DIR}" OMBRIX_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
  gtest_discover_tests(${name}_tests DISCOVERY_TIMEOUT 30
    PROPERTIES TIMEOUT 120 ${ARG_PROPERTIES})
endfunction()
