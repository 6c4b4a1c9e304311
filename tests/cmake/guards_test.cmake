# Run with cmake -DMODULES=<cmake folder> -DWORK=<scratch folder> -P: builds
# scratch projects that use th_add_groups and th_require_tests, configures
# each and checks that it fails (naming the fault) or passes as it should.
# Projects use no language, so no compiler is probed; a configure that got
# through the guards prints "guards passed".
cmake_minimum_required(VERSION 3.25)
file(REMOVE_RECURSE ${WORK})
set(failures 0)

# case(NAME EXPECT TOP GROUPS...): a project whose top CMakeLists.txt is TOP
# after the modules are included; each GROUP is "folder=CMakeLists text" or
# "folder" alone for a folder without one. EXPECT is "pass" or a text the
# configure's error must contain.
function(case name expect top)
  set(dir ${WORK}/${name})
  file(MAKE_DIRECTORY ${dir}/src)
  foreach(group IN LISTS ARGN)
    string(FIND "${group}" "=" eq)
    if(eq LESS 0)
      file(MAKE_DIRECTORY ${dir}/src/${group})
    else()
      string(SUBSTRING "${group}" 0 ${eq} folder)
      math(EXPR from "${eq} + 1")
      string(SUBSTRING "${group}" ${from} -1 text)
      file(WRITE ${dir}/src/${folder}/CMakeLists.txt "${text}\n")
    endif()
  endforeach()
  file(WRITE ${dir}/src/CMakeLists.txt
"cmake_minimum_required(VERSION 3.25)
project(guards NONE)
enable_testing()
include(${MODULES}/th_add_groups.cmake)
include(${MODULES}/th_require_tests.cmake)
${top}
message(STATUS \"guards passed\")
")
  execute_process(COMMAND ${CMAKE_COMMAND} -S ${dir}/src -B ${dir}/build
                  OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE rc)
  # CMake wraps long messages; compare with the white space folded.
  string(REGEX REPLACE "[ \t\r\n]+" " " err "${err}")
  string(FIND "${out}" "guards passed" passed)
  if(expect STREQUAL "pass")
    if(passed LESS 0)
      message(SEND_ERROR "${name}: the configure should pass the guards:\n${err}")
      math(EXPR failures "${failures} + 1")
    endif()
  else()
    string(FIND "${err}" "${expect}" named)
    if(passed GREATER_EQUAL 0 OR rc EQUAL 0 OR named LESS 0)
      message(SEND_ERROR "${name}: the configure should stop with \"${expect}\":\n${out}\n${err}")
      math(EXPR failures "${failures} + 1")
    endif()
  endif()
  set(failures ${failures} PARENT_SCOPE)
endfunction()

set(registered "add_test(NAME t COMMAND x)")
set(gtest_registered "include(GoogleTest)
add_executable(unit unit.cpp)
target_link_libraries(unit PRIVATE GTest::gtest_main)
gtest_discover_tests(unit)")
set(gtest_unregistered "add_executable(unit unit.cpp)
target_link_libraries(unit PRIVATE GTest::gtest_main)
add_test(NAME other COMMAND x)")

case(all_groups_sound pass
  "th_add_groups()\nth_require_tests(FOLDERS \${th_groups})"
  "a=${registered}" "b=${gtest_registered}")
case(folder_without_cmakelists "b has no CMakeLists.txt"
  "th_add_groups()" "a=${registered}" "b")
case(folder_left_out_by_name pass
  "th_add_groups(EXCEPT b)\nth_require_tests(FOLDERS \${th_groups})" "a=${registered}" "b")
case(left_out_folder_missing "EXCEPT names c"
  "th_add_groups(EXCEPT c)" "a=${registered}")
case(group_without_tests "registers no test"
  "th_add_groups()\nth_require_tests(FOLDERS \${th_groups})" "a=${registered}" "b=set(x 1)")
case(helper_group_without_tests pass
  "th_add_groups()\nth_require_tests(FOLDERS \${th_groups} HELPERS b)"
  "a=${registered}" "b=set(x 1)")
case(gtest_executable_not_registered "unit is built but its tests are not registered"
  "th_add_groups()\nth_require_tests(FOLDERS \${th_groups})" "a=${gtest_unregistered}")

if(failures GREATER 0)
  message(FATAL_ERROR "${failures} build guard case(s) failed")
endif()
message(STATUS "every build guard case behaved")
