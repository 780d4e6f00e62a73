# Installing the Linux programs, and their Debian package (cpack -G DEB in the build folder).
include(GNUInstallDirs)
install(TARGETS qmhidsrv RUNTIME DESTINATION ${CMAKE_INSTALL_SBINDIR})
install(TARGETS qmhid-ctl qmhid-decode RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS qmwintab LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
# The system's own places, whatever the prefix: a unit, a udev rule and a group.
install(FILES packaging/linux/qmhidsrv.service DESTINATION lib/systemd/system)
install(FILES packaging/linux/70-qmhidsrv.rules DESTINATION lib/udev/rules.d)
install(FILES packaging/linux/qmhidsrv.sysusers DESTINATION lib/sysusers.d RENAME qmhidsrv.conf)
install(FILES docs/linux.md README.md DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/qmhidsrv)

set(CPACK_PACKAGE_NAME qmhidsrv)
set(CPACK_PACKAGE_VERSION 1.0.0)
set(CPACK_PACKAGE_CONTACT "QmHid developers <qmhid@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "User-mode pen tablet driver: hidraw in, uinput out, a control pipe")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# The libraries' packages come from what the programs link (dpkg-shlibdeps).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "udev, systemd")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
  ${CMAKE_SOURCE_DIR}/packaging/linux/postinst ${CMAKE_SOURCE_DIR}/packaging/linux/prerm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_GENERATOR DEB)
include(CPack)
