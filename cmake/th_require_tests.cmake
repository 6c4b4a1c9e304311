# th_require_tests(FOLDERS dir... [HELPERS dir...]): the check that no test
# suite drops out of the build unnoticed. Each folder in FOLDERS (given
# relative to the current source folder, already added) must register at
# least one test with CTest, and every executable built there that links
# GoogleTest must be registered (gtest_discover_tests), or the configure
# stops and names it. HELPERS are folders that build only helpers and are
# not checked.
function(th_require_tests)
  cmake_parse_arguments(PARSE_ARGV 0 arg "" "" "FOLDERS;HELPERS")
  foreach(dir IN LISTS arg_FOLDERS)
    if(dir IN_LIST arg_HELPERS)
      continue()
    endif()
    set(src ${CMAKE_CURRENT_SOURCE_DIR}/${dir})
    get_property(tests DIRECTORY ${src} PROPERTY TESTS)
    get_property(includes DIRECTORY ${src} PROPERTY TEST_INCLUDE_FILES)
    if(NOT tests AND NOT includes)
      message(FATAL_ERROR "${src} registers no test with CTest")
    endif()
    set(names "")
    foreach(file IN LISTS includes)
      get_filename_component(name ${file} NAME)
      list(APPEND names ${name})
    endforeach()
    get_property(targets DIRECTORY ${src} PROPERTY BUILDSYSTEM_TARGETS)
    foreach(target IN LISTS targets)
      get_target_property(type ${target} TYPE)
      get_target_property(libs ${target} LINK_LIBRARIES)
      if(NOT type STREQUAL "EXECUTABLE" OR NOT libs MATCHES "GTest::")
        continue()
      endif()
      # gtest_discover_tests adds <target>[N]_include.cmake (or
      # <target>_include.cmake) to the folder's test include files.
      set(found ${names})
      list(FILTER found INCLUDE REGEX "^${target}(\\[[0-9]+\\])?_include")
      if(NOT found)
        message(FATAL_ERROR "${src}: the GoogleTest executable ${target} is built but its "
                            "tests are not registered (gtest_discover_tests(${target}))")
      endif()
    endforeach()
  endforeach()
endfunction()
