# th_component_library(TARGET DEF_FILE): the link rules every component
# library shares. On Windows the .def file exports the three entry points by
# their plain names; elsewhere a version script keeps the dynamic symbols to
# those three, and every symbol must resolve at link time (not in sanitizer
# builds, whose runtimes come from the executable).
# On Windows the DLL also gets its version resource, named after the library.
function(th_component_library target def_file)
  if(WIN32)
    target_sources(${target} PRIVATE ${def_file})
    if(target STREQUAL "tarn")
      th_version_resource(${target} "Tarn: the pager download server component")
    elseif(target STREQUAL "holm")
      th_version_resource(${target} "Holm: S-record files, progress window and port settings dialogs")
    else()
      message(FATAL_ERROR "th_component_library: no version description for ${target}")
    endif()
  else()
    if(NOT TH_SANITIZE AND NOT TH_TSAN)
      target_link_options(${target} PRIVATE -Wl,--no-undefined)
    endif()
    set(map ${PROJECT_SOURCE_DIR}/cmake/component_exports.map)
    target_link_options(${target} PRIVATE -Wl,--version-script=${map})
    set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${map})
  endif()
endfunction()
