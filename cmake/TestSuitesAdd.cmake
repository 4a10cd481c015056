# Run by CTest (see TestSuites.cmake): reads a GoogleTest program's suites and writes the CTest
# file that registers one test per suite.
#   VELOTRIM_SUITES_PROGRAM, VELOTRIM_SUITES_WORKING_DIR, VELOTRIM_SUITES_CASE_TIMEOUT,
#   VELOTRIM_SUITES_PROPERTIES (name;value;... for every suite), VELOTRIM_SUITES_OUTPUT

# A further case adds this share of one case's limit to its suite's: cases that pass take a few
# seconds, a hanging one takes a whole limit, so the sum stays far above a passing suite's time.
set(further_case_share 4)

execute_process(
  COMMAND "${VELOTRIM_SUITES_PROGRAM}" --gtest_list_tests
  WORKING_DIRECTORY "${VELOTRIM_SUITES_WORKING_DIR}"
  TIMEOUT 60
  OUTPUT_VARIABLE listing
  ERROR_VARIABLE listing_errors
  RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "${VELOTRIM_SUITES_PROGRAM} --gtest_list_tests failed (${result}):\n"
    "${listing}${listing_errors}")
endif()

# The listing: a suite line "Suite." (a comment may follow), then its cases indented by two spaces.
string(REPLACE ";" "\\;" listing "${listing}")
string(REPLACE "\n" ";" lines "${listing}")
set(suites "")
set(suite "")
foreach(line IN LISTS lines)
  if(line MATCHES "^([^ #][^ ]*)\\.( |$)")
    set(suite "${CMAKE_MATCH_1}")
    list(APPEND suites "${suite}")
    set(cases_${suite} 0)
  elseif(suite AND line MATCHES "^  ([^ ]+)")
    if(NOT CMAKE_MATCH_1 MATCHES "^DISABLED_" AND NOT suite MATCHES "^DISABLED_")
      math(EXPR cases_${suite} "${cases_${suite}} + 1")
    endif()
  endif()
endforeach()

set(content "")
foreach(suite IN LISTS suites)
  set(cases ${cases_${suite}})
  if(cases EQUAL 0)
    continue()
  endif()
  math(EXPR timeout
    "${VELOTRIM_SUITES_CASE_TIMEOUT} + (${cases} - 1) * ${VELOTRIM_SUITES_CASE_TIMEOUT} / ${further_case_share}")
  string(APPEND content
    "add_test([==[${suite}]==] [==[${VELOTRIM_SUITES_PROGRAM}]==] [==[--gtest_filter=${suite}.*]==])\n"
    "set_tests_properties([==[${suite}]==] PROPERTIES WORKING_DIRECTORY [==[${VELOTRIM_SUITES_WORKING_DIR}]==]"
    " TIMEOUT ${timeout}")
  set(properties ${VELOTRIM_SUITES_PROPERTIES})
  while(properties)
    list(POP_FRONT properties name value)
    string(APPEND content " ${name} [==[${value}]==]")
  endwhile()
  string(APPEND content ")\n")
endforeach()
file(WRITE "${VELOTRIM_SUITES_OUTPUT}" "${content}")
