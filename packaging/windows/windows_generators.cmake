# SPDX-License-Identifier: MIT
# Copyright (c) 2026 The Dotloom authors
# Read by cpack before each generator. The zip holds one folder, dotloom-<version>/, so that
# unpacking it never scatters files; the installer's name says what it is.
if(CPACK_GENERATOR STREQUAL "ZIP")
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
  set(CPACK_PACKAGING_INSTALL_PREFIX "/dotloom-${CPACK_PACKAGE_VERSION}")
elseif(CPACK_GENERATOR STREQUAL "NSIS")
  set(CPACK_PACKAGE_FILE_NAME "${CPACK_PACKAGE_FILE_NAME}-setup")
endif()
# The linker has stripped the program already; stripping it again would write the time of
# packing into its header, so that the zip and the installer held different programs.
set(CPACK_STRIP_FILES OFF)
