# brix_add_gtest(<target> SOURCES <files...> LIBS <libs...> [PORT] [LABEL <label>])
# Builds a GoogleTest binary and registers each of its tests with ctest.
# PORT marks tests that listen on the fixed replication port: they hold a
# shared resource lock so that no two of them run at once. LABEL groups
# tests for `ctest -L` (the end-to-end tests carry "e2e").
function(brix_add_gtest target)
  cmake_parse_arguments(ARG "PORT" "LABEL" "SOURCES;LIBS" ${ARGN})
  add_executable(${target} ${ARG_SOURCES})
  target_link_libraries(${target} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gtest_main)
  set(props TIMEOUT 120)
  if(ARG_PORT)
    list(APPEND props RESOURCE_LOCK replication_port_10566)
  endif()
  if(ARG_LABEL)
    list(APPEND props LABELS ${ARG_LABEL})
  endif()
  gtest_discover_tests(${target}
    WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}
    DISCOVERY_TIMEOUT 60
    PROPERTIES ${props})
endfunction()
