# CPack settings of the Debian package (included by packaging/CMakeLists.txt).
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${TH_DEB_NAME})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Tarn and Holm developers")
set(CPACK_PACKAGE_CONTACT "Tarn and Holm developers <developers@tarnholm.example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "components and tools to program pagers over a serial line")
set(CPACK_PACKAGE_DESCRIPTION
  "Tarn reads and writes a pager's memory over a serial line; Holm reads and\n\
writes S-record files and shows a progress window and serial settings\n\
dialogs. The package holds both component libraries, registered for every\n\
user, their runtime, the client tarnctl, the pager simulator pagersim,\n\
regsvr, and the headers, CMake package and pkg-config file for clients.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
  ${CMAKE_CURRENT_BINARY_DIR}/debian/postinst
  ${CMAKE_CURRENT_BINARY_DIR}/debian/prerm
  ${CMAKE_CURRENT_BINARY_DIR}/debian/postrm
  ${CMAKE_CURRENT_SOURCE_DIR}/debian/triggers)
set(CPACK_STRIP_FILES ON)
set(CPACK_OUTPUT_FILE_PREFIX ${PROJECT_BINARY_DIR}/package)
include(CPack)
