# What `cmake --install` puts where, and the packages CPack makes of it:
# - Linux: a .deb (omr72-updater, omr72-sim, omr72-pages, omr72-image, omr72-probe,
#   libomr72.so, libomr72-emulated.so, q71.h, the udev rules, their manual pages, README.md,
#   the copyright file and the changelog), installed under /usr.
# - Windows: a zip (OMR72_FW_Updater.exe, omr72-probe.exe, omr72-winusb.inf, q71.h, README.md,
#   LICENSE).
#   cpack --config <build dir>/CPackConfig.cmake -B <folder>      (tools/package.sh does both)
include(GNUInstallDirs)

if(WIN32)
  install(TARGETS ${OMR72_UPDATER_TARGET} omr72-probe RUNTIME DESTINATION .)
  # The INF file that binds the boot-loader device to WinUSB, made from the served USB ids
  # (platform/CMakeLists.txt).
  install(FILES ${PROJECT_SOURCE_DIR}/scsilink/q71.h ${PROJECT_SOURCE_DIR}/README.md
                ${PROJECT_SOURCE_DIR}/LICENSE ${OMR72_WINUSB_INF} DESTINATION .)
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
  # libomr72-emulated.so serves omr72-pages --emulated, which finds it there too.
  install(TARGETS omr72 omr72-emulated LIBRARY DESTINATION lib)
  install(FILES ${PROJECT_SOURCE_DIR}/scsilink/q71.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
  # udev reads /usr/lib/udev/rules.d; under another prefix the file is only kept for copying.
  # The build makes it from the USB ids the program serves (platform/CMakeLists.txt).
  install(FILES ${PROJECT_BINARY_DIR}/70-omr72-recorder.rules
          DESTINATION lib/udev/rules.d)
  set(doc_dir ${CMAKE_INSTALL_DATAROOTDIR}/doc/omr72-updater)
  install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${doc_dir})
  # Debian's places for the license and the changelog, and compressed manual pages; the
  # files are made at build time so that the package and `cmake --install` agree.
  set(packaging_dir ${PROJECT_SOURCE_DIR}/packaging/linux)
  set(packaging_out ${PROJECT_BINARY_DIR}/packaging)
  set(compressed ${packaging_out}/changelog.gz)
  add_custom_command(OUTPUT ${packaging_out}/changelog.gz
    COMMAND ${CMAKE_COMMAND} -E make_directory ${packaging_out}/man
    COMMAND gzip -9n -c ${packaging_dir}/changelog > ${packaging_out}/changelog.gz
    DEPENDS ${packaging_dir}/changelog VERBATIM)
  set(manual_pages omr72-updater omr72-sim omr72-image omr72-pages omr72-probe)
  foreach(page IN LISTS manual_pages)
    add_custom_command(OUTPUT ${packaging_out}/man/${page}.1.gz
      COMMAND ${CMAKE_COMMAND} -E make_directory ${packaging_out}/man
      COMMAND gzip -9n -c ${packaging_dir}/man/${page}.1 > ${packaging_out}/man/${page}.1.gz
      DEPENDS ${packaging_dir}/man/${page}.1 VERBATIM)
    list(APPEND compressed ${packaging_out}/man/${page}.1.gz)
    install(FILES ${packaging_out}/man/${page}.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  endforeach()
  add_custom_target(omr72_packaging_files ALL DEPENDS ${compressed})
  install(FILES ${packaging_dir}/copyright ${packaging_out}/changelog.gz DESTINATION ${doc_dir})
  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6, libstdc++6, libgcc-s1, libusb-1.0-0")
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER
      "The omr72 maintainers <maintainers@users.noreply.c-seed-e63ee8f0.example>")
  # The shared libraries in /usr/lib: the ldconfig trigger (a trigger, not a maintainer script,
  # so that the package also installs into a root without a shell).
  set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/packaging/linux/triggers)
  set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
endif()

set(CPACK_PACKAGE_NAME omr72-updater)
set(CPACK_PACKAGE_VENDOR "omr72")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Firmware updater for the Orlo Mica R72 voice recorder")
# Lines of at most 80 characters, as the .deb's control file wants them.
string(CONCAT CPACK_PACKAGE_DESCRIPTION
    "Updates the firmware of the Orlo Mica R72 over USB or its USB disk, with the\n"
    "payloads of the maker's Windows updater (omr72-updater --payloads), an emulated\n"
    "recorder for trying it out (omr72-sim), page access to the recorder's flash\n"
    "(libomr72, omr72-pages), payload tools (omr72-image) and a diagnosis of why a\n"
    "recorder is not found (omr72-probe).")
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/packages)
set(CPACK_STRIP_FILES ON)
include(CPack)
