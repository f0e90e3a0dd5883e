# USB for the host board's boot loader: libusb-1.0 through pkg-config. Without
# it the program still builds; the USB DFU update then reports that the DFU
# library is not initialised.
find_package(PkgConfig QUIET)
if(PKG_CONFIG_FOUND)
  pkg_check_modules(LIBUSB IMPORTED_TARGET libusb-1.0)
endif()
if(TARGET PkgConfig::LIBUSB)
  target_link_libraries(ravelin_platform PUBLIC PkgConfig::LIBUSB)
  target_compile_definitions(ravelin_platform PRIVATE RAVELIN_HAVE_LIBUSB=1)
else()
  message(STATUS "libusb-1.0 not found: USB DFU devices cannot be reached")
endif()
