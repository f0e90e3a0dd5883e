# Installation and the Debian package: the program, the virtual console, the
# desktop entry with its icon, a manual page made from --help, and the udev
# rules of the USB links where there are any.
include(GNUInstallDirs)

install(TARGETS ravelin ravelin-sim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PROJECT_SOURCE_DIR}/packaging/ravelin.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/ravelin.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
file(GLOB RAVELIN_UDEV_RULES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/packaging/udev/*.rules)
if(RAVELIN_UDEV_RULES)
  install(FILES ${RAVELIN_UDEV_RULES} DESTINATION lib/udev/rules.d)
endif()

set(RAVELIN_MANPAGE ${PROJECT_BINARY_DIR}/ravelin.1)
add_custom_command(OUTPUT ${RAVELIN_MANPAGE}
  COMMAND ${CMAKE_COMMAND} -DPROGRAM=$<TARGET_FILE:ravelin> -DOUT=${RAVELIN_MANPAGE}
          -P ${PROJECT_SOURCE_DIR}/cmake/manpage.cmake
  DEPENDS ravelin ${PROJECT_SOURCE_DIR}/cmake/manpage.cmake
  COMMENT "Manual page from ravelin --help")
add_custom_target(ravelin_manpage ALL DEPENDS ${RAVELIN_MANPAGE})
install(FILES ${RAVELIN_MANPAGE} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ravelin)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "firmware and FPGA updates for a digital mixing console's devices")
set(CPACK_PACKAGE_DESCRIPTION
    "Ravelin lists every updatable device of the console with the version it runs beside the version in the update file, and updates one device at a time over its own link. ravelin-sim is a virtual console to try it on.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Ravelin developers <ravelin@localhost>")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES ON)
# Beyond the libraries the programs link: the window's platform plugins, the
# USB library the host board's update loads, and the font that stands in for Arial.
set(RAVELIN_DEB_DEPENDS "libusb-1.0-0, fonts-liberation")
if(TARGET ravelin_ui)
  string(PREPEND RAVELIN_DEB_DEPENDS "libqt6widgets6, qt6-qpa-plugins, ")
endif()
set(CPACK_DEBIAN_PACKAGE_DEPENDS "${RAVELIN_DEB_DEPENDS}")
include(CPack)
