# What `cmake --install` puts where, and the packages CPack makes of it:
# - Linux: a .deb (omr72-updater, omr72-sim, omr72-pages, omr72-image, omr72-probe,
#   libomr72.so, q71.h, the udev rules, README.md), installed under /usr.
# - Windows: a zip (OMR72_FW_Updater.exe, omr72-probe.exe, omr72-winusb.inf, q71.h, README.md).
#   cpack --config <build dir>/CPackConfig.cmake -B <folder>      (tools/package.sh does both)
include(GNUInstallDirs)

if(WIN32)
  install(TARGETS ${OMR72_UPDATER_TARGET} omr72-probe RUNTIME DESTINATION .)
  # The INF file that binds the boot-loader device to WinUSB, made from the served USB ids
  # (platform/CMakeLists.txt).
  install(FILES ${PROJECT_SOURCE_DIR}/scsilink/q71.h ${PROJECT_SOURCE_DIR}/README.md
                ${OMR72_WINUSB_INF} DESTINATION .)
  set(CPACK_GENERATOR ZIP)
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(CPACK_SYSTEM_NAME win32)
  else()
    set(CPACK_SYSTEM_NAME win64)
  endif()
else()
  install(TARGETS ${OMR72_UPDATER_TARGET} omr72-sim omr72-pages omr72-image omr72-probe
          RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  # lib/ itself, not a multiarch folder: dlopen finds /usr/lib/libomr72.so without ldconfig,
  # and omr72-pages also looks in ../lib beside itself for other prefixes.
  install(TARGETS omr72 LIBRARY DESTINATION lib)
  install(FILES ${PROJECT_SOURCE_DIR}/scsilink/q71.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
  # udev reads /usr/lib/udev/rules.d; under another prefix the file is only kept for copying.
  # The build makes it from the USB ids the program serves (platform/CMakeLists.txt).
  install(FILES ${PROJECT_BINARY_DIR}/70-omr72-recorder.rules
          DESTINATION lib/udev/rules.d)
  install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/omr72-updater)
  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6, libstdc++6, libgcc-s1, libusb-1.0-0")
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "omr72 developers <omr72@localhost>")
endif()

set(CPACK_PACKAGE_NAME omr72-updater)
set(CPACK_PACKAGE_VENDOR "omr72")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Firmware updater for the Orlo Mica R72 voice recorder")
set(CPACK_PACKAGE_DESCRIPTION
    "Updates the firmware of the Orlo Mica R72 over USB or its USB disk, with an emulated "
    "recorder for trying it out (omr72-sim), page access to the recorder's flash (libomr72, "
    "omr72-pages), payload tools (omr72-image) and a diagnosis of why a recorder is not found "
    "(omr72-probe).")
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/packages)
set(CPACK_STRIP_FILES ON)
include(CPack)
