# th_component_library(TARGET DEF_FILE): the link rules every component
# library shares. On Windows the .def file exports the three entry points by
# their plain names; elsewhere a version script keeps the dynamic symbols to
# those three, and every symbol must resolve at link time (not in sanitizer
# builds, whose runtimes come from the executable).
function(th_component_library target def_file)
  if(WIN32)
    target_sources(${target} PRIVATE ${def_file})
    return()
  endif()
  if(NOT TH_SANITIZE AND NOT TH_TSAN)
    target_link_options(${target} PRIVATE -Wl,--no-undefined)
  endif()
  set(map ${PROJECT_SOURCE_DIR}/cmake/component_exports.map)
  target_link_options(${target} PRIVATE -Wl,--version-script=${map})
  set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${map})
endfunction()
