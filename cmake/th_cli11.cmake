# CLI11, the command-line parser of tarnctl and pagersim: header-only, found
# here once for both as the interface target th_cli11. A cross compiler must
# not see the host's /usr/include, so it gets a folder that holds only CLI11.
# Without CLI11 the configure stops with the package to install.
find_path(TH_CLI11_DIR CLI/CLI.hpp PATHS /usr/include /usr/local/include
          NO_CMAKE_FIND_ROOT_PATH)
if(NOT TH_CLI11_DIR)
  message(FATAL_ERROR "tarnctl and pagersim need CLI11 (Debian package libcli11-dev)")
endif()
add_library(th_cli11 INTERFACE)
if(CMAKE_CROSSCOMPILING)
  set(th_cli11_only ${PROJECT_BINARY_DIR}/cli11)
  file(MAKE_DIRECTORY ${th_cli11_only})
  file(CREATE_LINK ${TH_CLI11_DIR}/CLI ${th_cli11_only}/CLI SYMBOLIC)
  target_include_directories(th_cli11 SYSTEM INTERFACE ${th_cli11_only})
else()
  target_include_directories(th_cli11 SYSTEM INTERFACE ${TH_CLI11_DIR})
endif()
