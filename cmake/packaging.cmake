# SPDX-License-Identifier: MIT
# The installer (NSIS, when makensis is there) and the portable ZIP:
#   cmake --build --preset windows --target package
# Both hold the same flat folder: the two programs, samlist.txt and the
# sample code files.
install(TARGETS kovra kovra-cli RUNTIME DESTINATION .)
install(FILES ${PROJECT_SOURCE_DIR}/data/samlist.txt DESTINATION .)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/data/samples DESTINATION .)

set(CPACK_PACKAGE_NAME kovra)
set(CPACK_PACKAGE_VENDOR Lentaro)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_INSTALL_DIRECTORY "Kovra V3.0C")
# CPack keeps its own records under Software\<vendor>\<this> and deletes
# that whole key on uninstall, so it must never be the program's own key
# (SoftWare\Lentaro\KovraV30C), which keeps the saved port and chip.
set(CPACK_PACKAGE_INSTALL_REGISTRY_KEY "Kovra V3.0C")
# Read by cpack: each generator's own file name (cmake/package_names.cmake).
set(CPACK_KOVRA_SETUP_NAME ${KOVRA_SETUP_NAME})
set(CPACK_KOVRA_PORTABLE_NAME ${KOVRA_PORTABLE_NAME})
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_LIST_DIR}/package_names.cmake)

set(CPACK_GENERATOR ZIP)
find_program(KOVRA_MAKENSIS makensis)
if(KOVRA_MAKENSIS)
  list(APPEND CPACK_GENERATOR NSIS)
endif()

# A 64-bit installer: it installs into the 64-bit Program Files and writes
# the registry view the 64-bit program reads (and Wine here runs only
# 64-bit programs).
set(CPACK_NSIS_DEFINES "Target amd64-unicode")
set(CPACK_NSIS_INSTALL_ROOT "$PROGRAMFILES64")
set(CPACK_NSIS_MUI_ICON ${PROJECT_SOURCE_DIR}/src/win32/kovra.ico)
set(CPACK_NSIS_MUI_UNIICON ${PROJECT_SOURCE_DIR}/src/win32/kovra.ico)
set(CPACK_NSIS_INSTALLED_ICON_NAME kovra.exe)
set(CPACK_NSIS_MENU_LINKS kovra.exe "Kovra V3.0C")
# The installation folder goes where the program looks for samlist.txt.
# Uninstalling removes only that value: the saved "com" and "chip" stay,
# and so does the key while it holds them (a bare DeleteRegKey would take
# the whole key).
set(program_key "Software\\\\Lentaro\\\\KovraV30C")
set(CPACK_NSIS_EXTRA_PREINSTALL_COMMANDS "SetRegView 64")
set(CPACK_NSIS_EXTRA_INSTALL_COMMANDS "WriteRegStr HKLM \\\"${program_key}\\\" \\\"setup\\\" \\\"$INSTDIR\\\"")
set(CPACK_NSIS_EXTRA_UNINSTALL_COMMANDS
    "SetRegView 64
  DeleteRegValue HKLM \\\"${program_key}\\\" \\\"setup\\\"
  DeleteRegKey /ifnosubkeys /ifnovalues HKLM \\\"${program_key}\\\"")

include(CPack)
