# What `cmake --install` puts into a gateway's image (docs/gateway.md), in the GNU
# installation folders under the prefix given at install time (--prefix, else
# CMAKE_INSTALL_PREFIX) and DESTDIR, by component:
#   daemon   <sbindir>/ozr, and <bindir>/meshview (the mesh as a tree, from the REST API)
#   systemd  <prefix>/lib/systemd/system/ozr.service, the unit (dist/systemd)
#   procd    <sysconfdir>/init.d/ozr, the OpenWrt init script (dist/openwrt); only when asked
#            for: cmake --install <build> --component procd
# A plain `cmake --install` installs the daemon and the systemd unit. The service files are
# written at install time, so that they name the daemon where it was installed.
install(TARGETS ozr RUNTIME DESTINATION ${CMAKE_INSTALL_SBINDIR} COMPONENT daemon)
install(TARGETS meshview RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT daemon)

foreach(service systemd procd)
  set(all "")
  if(service STREQUAL "procd")
    set(all EXCLUDE_FROM_ALL)
  endif()
  install(CODE "set(OZR_SERVICE ${service})
                set(OZR_SOURCE_DIR \"${CMAKE_SOURCE_DIR}\")
                set(OZR_BINARY_DIR \"${CMAKE_BINARY_DIR}\")
                set(OZR_SBINDIR \"${CMAKE_INSTALL_SBINDIR}\")
                include(\"${CMAKE_SOURCE_DIR}/cmake/install_service.cmake\")"
          COMPONENT ${service} ${all})
endforeach()
