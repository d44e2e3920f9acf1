# SPDX-License-Identifier: MIT
# Read by cpack for each generator: the installer and the portable ZIP get
# names of their own.
if(CPACK_GENERATOR STREQUAL "NSIS")
  set(CPACK_PACKAGE_FILE_NAME ${CPACK_KOVRA_SETUP_NAME})
elseif(CPACK_GENERATOR STREQUAL "ZIP")
  set(CPACK_PACKAGE_FILE_NAME ${CPACK_KOVRA_PORTABLE_NAME})
endif()
