# One CTest test per GoogleTest suite: the cases of a suite run in one process, one after the
# other, as they do when the program is run by hand. A test process costs a sanitizer and Qt
# start-up (a large share of the suite's processor time when every case had its own), and the
# cases of a suite share their fixture's set-up code, so they are written to follow one another.
# The suites themselves run in parallel, and a failing case is named in the suite's output.
#
# The suites are read from the program (--gtest_list_tests) when CTest runs and the program is
# newer than the last reading, so a new suite needs no new configure run.

set(VELOTRIM_TEST_SUITES_SCRIPT ${CMAKE_CURRENT_LIST_DIR}/TestSuitesAdd.cmake)

# velotrim_add_test_suites(<target> CASE_TIMEOUT <seconds> [PROPERTIES <name> <value>...])
# Registers each suite of <target>. A suite's time limit is CASE_TIMEOUT for its first case and a
# fraction of it for each further one: a case that hangs still ends its suite in bounded time.
function(velotrim_add_test_suites target)
  cmake_parse_arguments(ARG "" "CASE_TIMEOUT" "PROPERTIES" ${ARGN})
  set(base "${CMAKE_CURRENT_BINARY_DIR}/${target}")
  set(include_file "${base}_suites_include.cmake")
  set(suites_file "${base}_suites.cmake")
  file(GENERATE OUTPUT "${include_file}" CONTENT
"if(EXISTS [==[$<TARGET_FILE:${target}>]==])
  if(NOT EXISTS [==[${suites_file}]==] OR
     NOT [==[${suites_file}]==] IS_NEWER_THAN [==[$<TARGET_FILE:${target}>]==] OR
     NOT [==[${suites_file}]==] IS_NEWER_THAN [==[\${CMAKE_CURRENT_LIST_FILE}]==])
    set(VELOTRIM_SUITES_PROGRAM [==[$<TARGET_FILE:${target}>]==])
    set(VELOTRIM_SUITES_WORKING_DIR [==[${CMAKE_CURRENT_BINARY_DIR}]==])
    set(VELOTRIM_SUITES_CASE_TIMEOUT [==[${ARG_CASE_TIMEOUT}]==])
    set(VELOTRIM_SUITES_PROPERTIES [==[${ARG_PROPERTIES}]==])
    set(VELOTRIM_SUITES_OUTPUT [==[${suites_file}]==])
    include([==[${VELOTRIM_TEST_SUITES_SCRIPT}]==])
  endif()
  include([==[${suites_file}]==])
else()
  add_test([==[${target}_NOT_BUILT]==] [==[${target}_NOT_BUILT]==])
endif()
")
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES "${include_file}")
endfunction()
