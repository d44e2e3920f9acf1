# SPDX-License-Identifier: MIT
# The Linux installation, for `cmake --install` and other distributions'
# packagers, and the Debian package built from it:
#   cmake --preset linux-package && cmake --build --preset linux-package --target package
# An installed kovra-cli finds its chip list in ../share/kovra from its own
# folder, so the prefix is free.

# Debian wants a package's documents under its own name.
set(CMAKE_INSTALL_DOCDIR share/doc/kovra-cli CACHE PATH "documentation (DATAROOTDIR/doc/kovra-cli)")
include(GNUInstallDirs)
# udev reads rules under /usr/local/lib and /usr/lib as well as /lib;
# Debian 12 packages put theirs in /lib.
set(KOVRA_UDEV_RULES_DIR lib/udev/rules.d CACHE PATH "udev rules (relative: under the prefix)")

install(TARGETS kovra-cli kovra-sim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PROJECT_SOURCE_DIR}/data/samlist.txt DESTINATION ${CMAKE_INSTALL_DATADIR}/kovra)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/data/samples DESTINATION ${CMAKE_INSTALL_DATADIR}/kovra)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/linux/70-kovra.rules DESTINATION ${KOVRA_UDEV_RULES_DIR})
# The bridges the rule serves, for software centres.
install(FILES ${PROJECT_SOURCE_DIR}/packaging/linux/com.lentaro.kovra_cli.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/linux/kovra-cli.bash
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME kovra-cli)
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/packaging/linux/copyright
        DESTINATION ${CMAKE_INSTALL_DOCDIR})

# Compressed without a time stamp, so that the same sources give the same
# package.
function(kovra_gzip source target)
  add_custom_command(
    OUTPUT ${target}
    COMMAND sh -c "gzip -9n -c \"$0\" >\"$1\"" ${source} ${target}
    DEPENDS ${source}
    VERBATIM)
endfunction()

kovra_gzip(${PROJECT_SOURCE_DIR}/packaging/linux/changelog ${CMAKE_CURRENT_BINARY_DIR}/changelog.gz)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/changelog.gz DESTINATION ${CMAKE_INSTALL_DOCDIR})
set(generated_docs ${CMAKE_CURRENT_BINARY_DIR}/changelog.gz)

# The manual pages, written once for scdoc.
find_program(KOVRA_SCDOC scdoc)
if(KOVRA_SCDOC)
  foreach(page kovra-cli kovra-sim)
    set(source ${PROJECT_SOURCE_DIR}/packaging/linux/${page}.1.scd)
    set(roff ${CMAKE_CURRENT_BINARY_DIR}/man/${page}.1)
    add_custom_command(
      OUTPUT ${roff}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_CURRENT_BINARY_DIR}/man
      COMMAND sh -c "\"$0\" <\"$1\" >\"$2\"" ${KOVRA_SCDOC} ${source} ${roff}
      DEPENDS ${source}
      VERBATIM)
    kovra_gzip(${roff} ${roff}.gz)
    install(FILES ${roff}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
    list(APPEND generated_docs ${roff}.gz)
  endforeach()
else()
  message(WARNING "scdoc not found: the manual pages are left out")
endif()
add_custom_target(kovra_docs ALL DEPENDS ${generated_docs})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kovra-cli)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Lentaro <kovra@lentaro.com>")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The line's database is reached through an ODBC driver: PostgreSQL's is the one tested.
set(CPACK_DEBIAN_PACKAGE_SUGGESTS odbc-postgresql)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "host software of the Kovra V3.0C microcontroller programmer
kovra-cli drives one or many Kovra V3.0C programmers on PL2303 USB-to-serial
bridges: it loads Intel HEX and binary code files, downloads them into the
programmer's memory (confirmed by checksum and read back), blank checks,
programs, verifies and protects serial OTP and MTP microcontrollers, and
keeps a production record, in a CSV file or the line's database (ODBC),
with a yield report. kovra-sim simulates a programmer on a pseudo-terminal,
to try it without hardware.
.
A udev rule gives the logged-in user and the dialout group the programmer's
port, with a link under /dev/kovra/ named by its USB socket.")
include(CPack)
