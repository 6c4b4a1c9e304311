# nlohmann-json, the JSON writer of tarnctl's job records and the parser its
# tests read them back with: header-only, found here once as the interface
# target th_json. A cross compiler must not see the host's /usr/include, so
# it gets a folder that holds only the library's headers. Without it the
# configure stops with the package to install.
find_path(TH_JSON_DIR nlohmann/json.hpp PATHS /usr/include /usr/local/include
          NO_CMAKE_FIND_ROOT_PATH)
if(NOT TH_JSON_DIR)
  message(FATAL_ERROR "tarnctl needs nlohmann-json (Debian package nlohmann-json3-dev)")
endif()
add_library(th_json INTERFACE)
if(CMAKE_CROSSCOMPILING)
  set(th_json_only ${PROJECT_BINARY_DIR}/nlohmann-json)
  file(MAKE_DIRECTORY ${th_json_only})
  file(CREATE_LINK ${TH_JSON_DIR}/nlohmann ${th_json_only}/nlohmann SYMBOLIC)
  target_include_directories(th_json SYSTEM INTERFACE ${th_json_only})
else()
  target_include_directories(th_json SYSTEM INTERFACE ${TH_JSON_DIR})
endif()
