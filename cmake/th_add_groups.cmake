# th_add_groups(): adds every subfolder of the current folder that has a
# CMakeLists.txt, in name order. tests/, fuzz/ and bench/ keep one group per
# component so that the groups can grow independently.
function(th_add_groups)
  file(GLOB groups LIST_DIRECTORIES true RELATIVE ${CMAKE_CURRENT_SOURCE_DIR}
       ${CMAKE_CURRENT_SOURCE_DIR}/*)
  list(SORT groups)
  foreach(group IN LISTS groups)
    if(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${group}/CMakeLists.txt)
      add_subdirectory(${group})
    endif()
  endforeach()
endfunction()
