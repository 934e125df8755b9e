# What `cmake --install` puts below the prefix, and the Debian package of it
# (`make package`): the commands and their manual pages, the library with its
# one public header, a CMake package (find_package(ismgr CONFIG) gives
# ismgr::ismgr) and the pkg-config file ismgr.pc. The layers' internal headers
# stay behind.
include(CMakePackageConfigHelpers)

set(ISMGR_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/ismgr)
install(TARGETS ismgr EXPORT ismgrTargets
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(TARGETS ${ISMGR_COMMANDS} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${CMAKE_SOURCE_DIR}/ismgr/ismgr.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/ismgr)
file(GLOB MAN_PAGES ${CMAKE_SOURCE_DIR}/docs/*.1)
install(FILES ${MAN_PAGES} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

install(EXPORT ismgrTargets NAMESPACE ismgr:: DESTINATION ${ISMGR_CMAKE_DIR})
file(WRITE ${CMAKE_BINARY_DIR}/ismgrConfig.cmake
  "include(\"\${CMAKE_CURRENT_LIST_DIR}/ismgrTargets.cmake\")\n")
write_basic_package_version_file(${CMAKE_BINARY_DIR}/ismgrConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/ismgrConfig.cmake ${CMAKE_BINARY_DIR}/ismgrConfigVersion.cmake
  DESTINATION ${ISMGR_CMAKE_DIR})

# ismgr.pc finds the prefix from its own place, so an installed tree can be
# moved. A static library needs the C++ runtime on a C program's link line.
set(ISMGR_PC_DIR ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
file(RELATIVE_PATH ISMGR_PC_PREFIX /${ISMGR_PC_DIR} /)
string(REGEX REPLACE "/$" "" ISMGR_PC_PREFIX "${ISMGR_PC_PREFIX}")
if(BUILD_SHARED_LIBS)
  set(ISMGR_PC_CFLAGS "-DISMGR_SHARED")
  set(ISMGR_PC_LIBS "")
  set(ISMGR_PC_LIBS_PRIVATE "-lstdc++ -lm")
else()
  set(ISMGR_PC_CFLAGS "")
  set(ISMGR_PC_LIBS "-lstdc++ -lm")
  set(ISMGR_PC_LIBS_PRIVATE "")
endif()
configure_file(${CMAKE_SOURCE_DIR}/cmake/ismgr.pc.in ${CMAKE_BINARY_DIR}/ismgr.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/ismgr.pc DESTINATION ${ISMGR_PC_DIR})

set(CPACK_PACKAGE_NAME ismgr)
set(CPACK_PACKAGE_VENDOR "ISMGR maintainers")
set(CPACK_PACKAGE_CONTACT "ISMGR maintainers <maintainers@users.noreply.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "ISAM record-management layer: qdesc, qcreate, qinfo and the ismgr library")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6, libstdc++6, libgcc-s1")
include(CPack)
