# Run by `cmake --install` (cmake/install.cmake): writes the service file OZR_SERVICE
# (systemd or procd) from dist/ with the daemon's installed path and installs it. The
# prefix is the one of this install (CMAKE_INSTALL_PREFIX here is --prefix when given).
if(IS_ABSOLUTE "${OZR_SBINDIR}")
  set(OZR_INSTALLED_DAEMON "${OZR_SBINDIR}/ozr")
else()
  set(OZR_INSTALLED_DAEMON "${CMAKE_INSTALL_PREFIX}/${OZR_SBINDIR}/ozr")
endif()
if(OZR_SERVICE STREQUAL "systemd")
  set(template "${OZR_SOURCE_DIR}/dist/systemd/ozr.service.in")
  set(written "${OZR_BINARY_DIR}/dist/ozr.service")
  set(destination "${CMAKE_INSTALL_PREFIX}/lib/systemd/system")
  set(type FILE)
else()
  set(template "${OZR_SOURCE_DIR}/dist/openwrt/ozr.init.in")
  set(written "${OZR_BINARY_DIR}/dist/ozr")
  # The system configuration folder as GNUInstallDirs has it: /etc for the prefixes / and
  # /usr, <prefix>/etc otherwise.
  if(CMAKE_INSTALL_PREFIX STREQUAL "/" OR CMAKE_INSTALL_PREFIX STREQUAL "/usr")
    set(destination "/etc/init.d")
  else()
    set(destination "${CMAKE_INSTALL_PREFIX}/etc/init.d")
  endif()
  set(type PROGRAM)
endif()
configure_file("${template}" "${written}" @ONLY)
file(INSTALL DESTINATION "${destination}" TYPE ${type} FILES "${written}")
