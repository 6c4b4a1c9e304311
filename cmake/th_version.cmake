# The one version of the project (project(VERSION)) for every program and
# library: th_version.h for the programs (target th_version), a version
# resource for the Windows DLLs (th_version_resource), and the packages
# (CPack reads PROJECT_VERSION).
configure_file(${CMAKE_CURRENT_LIST_DIR}/version/th_version.h.in
  ${PROJECT_BINARY_DIR}/generated/th_version.h @ONLY)
add_library(th_version INTERFACE)
target_include_directories(th_version INTERFACE
  $<BUILD_INTERFACE:${PROJECT_BINARY_DIR}/generated>)

# th_version_resource(TARGET DESCRIPTION): a Windows version resource naming
# the library (file description), the product, and the file and product
# version. Windows builds only (a resource means nothing elsewhere).
function(th_version_resource target description)
  if(NOT WIN32)
    message(FATAL_ERROR "th_version_resource(${target}): version resources are for Windows builds")
  endif()
  set(TH_RC_DESCRIPTION "${description}")
  set(TH_RC_FILENAME "$<TARGET_FILE_NAME:${target}>")
  set(TH_RC_ORIGINAL "lib${target}.dll")
  set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}_version.rc)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/version/version.rc.in ${rc} @ONLY)
  target_sources(${target} PRIVATE ${rc})
endfunction()
