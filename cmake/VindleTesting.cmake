# Test registration helpers shared by every tests/<folder>/CMakeLists.txt.
if(WIN32)
  # GoogleTest for Windows, built from Debian's sources with this toolchain.
  set(VINDLE_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources for the Windows build")
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  add_subdirectory(${VINDLE_GTEST_SOURCE} ${PROJECT_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  foreach(lib gtest gtest_main)
    if(NOT TARGET GTest::${lib})
      add_library(GTest::${lib} ALIAS ${lib})
    endif()
  endforeach()
else()
  find_package(GTest REQUIRED)
endif()
include(GoogleTest)

set(VINDLE_LAB ${PROJECT_SOURCE_DIR}/tools/lab/vindle-lab)

# vindle_add_unit_tests(<target> <sources...> LINK <libs...> [LABELS <label>])
# Every test executable links the shared kit (tests/common, vindle_testlab).
# One executable whose cases run directly: loopback only, no broadcast, no
# privileged port.
function(vindle_add_unit_tests target)
  cmake_parse_arguments(ARG "" "" "SOURCES;LINK;LABELS" ${ARGN})
  add_executable(${target} ${ARG_SOURCES} ${ARG_UNPARSED_ARGUMENTS})
  target_link_libraries(${target} PRIVATE ${ARG_LINK} vindle_testlab GTest::gtest GTest::gtest_main Threads::Threads)
  # gtest_discover_tests cannot carry a list through PROPERTIES (its later
  # items turn into property names), so each executable gets one label:
  # the one given, or "unit".
  set(labels unit)
  if(ARG_LABELS)
    list(GET ARG_LABELS 0 labels)
  endif()
  if(WIN32)
    # Wine starts slowly: one case per executable, run through the emulator.
    add_test(NAME ${target} COMMAND ${target})
    set_tests_properties(${target} PROPERTIES LABELS "${labels}" TIMEOUT 300)
    return()
  endif()
  gtest_discover_tests(${target}
    PROPERTIES LABELS "${labels}" TIMEOUT 120
    DISCOVERY_TIMEOUT 30)
endfunction()

# vindle_add_lab_tests(<target> SOURCES <sources...> LINK <libs...> [BOXES n] [LABELS ...])
# One executable that runs as a whole inside a fresh lab (its own network
# namespaces, see tools/lab/vindle-lab). The lab exports LAB_* variables that
# tell the test which namespaces and addresses it has. Registered as a single
# CTest case so that one lab serves all of the executable's cases.
function(vindle_add_lab_tests target)
  if(WIN32)
    # The lab is made of Linux network namespaces. An empty target keeps the
    # callers' add_dependencies valid.
    add_custom_target(${target})
    return()
  endif()
  cmake_parse_arguments(ARG "" "BOXES" "SOURCES;LINK;LABELS" ${ARGN})
  if(NOT ARG_BOXES)
    set(ARG_BOXES 2)
  endif()
  add_executable(${target} ${ARG_SOURCES} ${ARG_UNPARSED_ARGUMENTS})
  target_link_libraries(${target} PRIVATE ${ARG_LINK} vindle_testlab GTest::gtest GTest::gtest_main Threads::Threads)
  add_test(NAME ${target}
    COMMAND ${VINDLE_LAB} --boxes ${ARG_BOXES} -- $<TARGET_FILE:${target}>)
  set_tests_properties(${target} PROPERTIES
    LABELS "lab;${ARG_LABELS}" TIMEOUT 300
    ENVIRONMENT "VINDLE_BUILD_DIR=${PROJECT_BINARY_DIR};VINDLE_SOURCE_DIR=${PROJECT_SOURCE_DIR}")
endfunction()
