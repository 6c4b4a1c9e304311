# th_add_groups([EXCEPT folder...]): adds every subfolder of the current
# folder, in name order. tests/, fuzz/ and bench/ keep one group per
# component so that the groups can grow independently. Every subfolder is a
# group and must have a CMakeLists.txt (a missing one is a configure error,
# never a group left out); EXCEPT names the subfolders that are not groups.
# Sets th_groups in the caller to the groups added.
function(th_add_groups)
  cmake_parse_arguments(PARSE_ARGV 0 arg "" "" "EXCEPT")
  file(GLOB entries LIST_DIRECTORIES true RELATIVE ${CMAKE_CURRENT_SOURCE_DIR}
       ${CMAKE_CURRENT_SOURCE_DIR}/*)
  list(SORT entries)
  set(added "")
  foreach(group IN LISTS entries)
    if(NOT IS_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}/${group} OR group IN_LIST arg_EXCEPT)
      continue()
    endif()
    if(NOT EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${group}/CMakeLists.txt)
      message(FATAL_ERROR "${CMAKE_CURRENT_SOURCE_DIR}/${group} has no CMakeLists.txt; "
                          "add one, or name the folder in th_add_groups(EXCEPT ...)")
    endif()
    add_subdirectory(${group})
    list(APPEND added ${group})
  endforeach()
  set(th_groups ${added} PARENT_SCOPE)
  foreach(name IN LISTS arg_EXCEPT)
    if(NOT IS_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}/${name})
      message(FATAL_ERROR "th_add_groups: EXCEPT names ${name}, which is not a folder here")
    endif()
  endforeach()
endfunction()
