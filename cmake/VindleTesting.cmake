# Test registration helpers shared by every tests/<folder>/CMakeLists.txt.
find_package(GTest REQUIRED)
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
