# th_header_library(TARGET HEADER NEEDED_BY PACKAGE): a header-only library
# of the host, found once as the interface target TARGET; its include folder
# is cached as TARGET_DIR in capitals (TH_CLI11_DIR). HEADER lies below
# /usr/include or /usr/local/include, and its first folder is the library's
# own (CLI in CLI/CLI.hpp). A cross compiler must not see the host's
# /usr/include, so it gets a folder of the build that holds only the
# library's. Without the header the configure stops, saying NEEDED_BY and the
# Debian package to install.
function(th_header_library target header neededBy package)
  string(TOUPPER "${target}_DIR" dirVar)
  find_path(${dirVar} ${header} PATHS /usr/include /usr/local/include NO_CMAKE_FIND_ROOT_PATH)
  if(NOT ${dirVar})
    message(FATAL_ERROR "${neededBy} (Debian package ${package})")
  endif()
  string(REGEX REPLACE "/.*" "" folder "${header}")
  add_library(${target} INTERFACE)
  if(CMAKE_CROSSCOMPILING)
    set(only ${PROJECT_BINARY_DIR}/${target}-headers)
    file(MAKE_DIRECTORY ${only})
    file(CREATE_LINK ${${dirVar}}/${folder} ${only}/${folder} SYMBOLIC)
    target_include_directories(${target} SYSTEM INTERFACE ${only})
  else()
    target_include_directories(${target} SYSTEM INTERFACE ${${dirVar}})
  endif()
endfunction()
