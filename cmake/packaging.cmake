# packaging.cmake - where cmake --install puts the tool, and what CPack makes of it: a Debian
# package of the Linux build, a .zip of the Windows build.
include(GNUInstallDirs)

set(CPACK_PACKAGE_NAME duzedevazu)
set(CPACK_PACKAGE_VENDOR "DuzeDevazu developers")
set(CPACK_PACKAGE_CONTACT "DuzeDevazu developers <developers@duzedevazu.org>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "register test tool for KYN interface boards")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
  "DuzeDevazu drives one KYN interface board (PCI, PCI Express, ExpressCard,\n"
  "PCMCIA, PC/104) with single keys: 8/16/32-bit register reads and writes,\n"
  "PCI-bridge reads, writes and a full dump, a write/read-back memory test, a\n"
  "driver debug command, timestamps and sleep. Everything shown also goes to a\n"
  "log file; a command string makes runs scriptable. duzedevazu carries the\n"
  "simulated hardware library, whose boards need no hardware; duzedevazu-pci\n"
  "drives real PCI and PCI Express devices through libpci and sysfs.")
set(CPACK_STRIP_FILES ON)

# The manual page as installed carries the version of project(), whatever its source says.
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS docs/duzedevazu.1)
file(READ ${CMAKE_SOURCE_DIR}/docs/duzedevazu.1 DUZE_MANUAL)
string(REGEX REPLACE "\"DuzeDevazu [0-9.]+\"" "\"DuzeDevazu ${PROJECT_VERSION}\"" DUZE_MANUAL "${DUZE_MANUAL}")
file(WRITE ${CMAKE_BINARY_DIR}/duzedevazu.1 "${DUZE_MANUAL}")

if(WIN32)
  # One folder: the program, the README and the manual page as text.
  install(TARGETS duzedevazu RUNTIME DESTINATION .)
  if(TARGET kynhwsim AND BUILD_SHARED_LIBS)
    install(TARGETS kynhwsim RUNTIME DESTINATION .)
  endif()
  install(FILES README.md LICENSE DESTINATION .)
  install(FILES maps/pci-config.svd DESTINATION maps)
  find_program(DUZE_NROFF nroff)
  find_program(DUZE_COL col)
  if(DUZE_NROFF AND DUZE_COL)
    add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/duzedevazu.txt
      COMMAND ${CMAKE_COMMAND} -DNROFF=${DUZE_NROFF} -DCOL=${DUZE_COL} -DIN=${CMAKE_BINARY_DIR}/duzedevazu.1
              -DOUT=${CMAKE_BINARY_DIR}/duzedevazu.txt -P ${CMAKE_SOURCE_DIR}/cmake/manual-text.cmake
      DEPENDS ${CMAKE_BINARY_DIR}/duzedevazu.1 cmake/manual-text.cmake
      COMMENT "The manual page as text")
    add_custom_target(manual_text ALL DEPENDS ${CMAKE_BINARY_DIR}/duzedevazu.txt)
    install(FILES ${CMAKE_BINARY_DIR}/duzedevazu.txt DESTINATION .)
  endif()
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME DuzeDevazu-${PROJECT_VERSION}-win32)
else()
  # The compiler's ident notes of the runtime linked in are of no use in a package.
  if(CMAKE_BUILD_TYPE STREQUAL "Release" AND CMAKE_OBJCOPY)
    foreach(target duzedevazu duzedevazu-pci)
      if(TARGET ${target})
        add_custom_command(TARGET ${target} POST_BUILD
                           COMMAND ${CMAKE_OBJCOPY} --remove-section=.comment $<TARGET_FILE:${target}>)
      endif()
    endforeach()
  endif()
  install(TARGETS duzedevazu RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  if(TARGET duzedevazu-pci)
    install(TARGETS duzedevazu-pci RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  endif()
  if(TARGET kynhwsim AND BUILD_SHARED_LIBS)
    install(TARGETS kynhwsim LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
    set_target_properties(duzedevazu PROPERTIES INSTALL_RPATH "$ORIGIN/../${CMAKE_INSTALL_LIBDIR}")
  endif()
  # By Debian's rules: the manual page and the changelog compressed with gzip -9n (no name, no
  # time, so the same input gives the same bytes), duzedevazu-pci's page a link to the one page,
  # and a machine-readable copyright file.
  find_program(DUZE_GZIP gzip REQUIRED)
  set(DUZE_GZIPPED ${CMAKE_BINARY_DIR}/gzipped)
  add_custom_command(OUTPUT ${DUZE_GZIPPED}/duzedevazu.1.gz ${DUZE_GZIPPED}/changelog.gz ${DUZE_GZIPPED}/duzedevazu-pci.1.gz
    COMMAND ${CMAKE_COMMAND} -E make_directory ${DUZE_GZIPPED}
    COMMAND ${DUZE_GZIP} -9n -c ${CMAKE_BINARY_DIR}/duzedevazu.1 > ${DUZE_GZIPPED}/duzedevazu.1.gz
    COMMAND ${DUZE_GZIP} -9n -c ${CMAKE_SOURCE_DIR}/packaging/changelog > ${DUZE_GZIPPED}/changelog.gz
    COMMAND ${CMAKE_COMMAND} -E create_symlink duzedevazu.1.gz ${DUZE_GZIPPED}/duzedevazu-pci.1.gz
    DEPENDS ${CMAKE_BINARY_DIR}/duzedevazu.1 packaging/changelog
    COMMENT "The manual page and the changelog, compressed")
  add_custom_target(gzipped_docs ALL DEPENDS ${DUZE_GZIPPED}/duzedevazu.1.gz ${DUZE_GZIPPED}/changelog.gz
                                             ${DUZE_GZIPPED}/duzedevazu-pci.1.gz)
  install(FILES ${DUZE_GZIPPED}/duzedevazu.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  # The register maps shipped with the tool (the PCI configuration header, for DUZE_BRIDGE_MAP).
  install(FILES maps/pci-config.svd DESTINATION ${CMAKE_INSTALL_DATADIR}/duzedevazu/maps)
  # Where bash-completion looks for a command's completion: a file named for it.
  install(FILES packaging/duzedevazu.bash-completion DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
          RENAME duzedevazu)
  if(TARGET duzedevazu-pci)
    install(FILES packaging/duzedevazu.bash-completion DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
            RENAME duzedevazu-pci)
  endif()
  if(TARGET duzedevazu-pci)
    install(FILES ${DUZE_GZIPPED}/duzedevazu-pci.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  endif()
  install(FILES README.md packaging/copyright ${DUZE_GZIPPED}/changelog.gz
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/duzedevazu)
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
  # The shared libraries the programs load (the C library, libpci3), as dpkg-shlibdeps finds them.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
endif()

include(CPack)
