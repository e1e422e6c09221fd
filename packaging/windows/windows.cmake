# SPDX-License-Identifier: MIT
# Copyright (c) 2026 The Dotloom authors
# The Windows download, made by `cpack` in the Windows build folder:
#   dotloom-<version>-windows-x86_64.zip        one folder dotloom-<version>/ with dotloom.exe,
#                                               README.txt and LICENSE.txt
#   dotloom-<version>-windows-x86_64-setup.exe  a per-user installer (NSIS, from Debian's nsis)
#   SHA256SUMS                                  both, for `sha256sum -c` or Get-FileHash
# The text files get Windows line endings, so that every editor shows their lines.
configure_file(${CMAKE_CURRENT_LIST_DIR}/README.txt.in README.txt @ONLY NEWLINE_STYLE CRLF)
configure_file(${PROJECT_SOURCE_DIR}/LICENSE LICENSE.txt @ONLY NEWLINE_STYLE CRLF)
install(FILES ${PROJECT_BINARY_DIR}/README.txt ${PROJECT_BINARY_DIR}/LICENSE.txt DESTINATION .)

set(CPACK_GENERATOR ZIP NSIS)
set(DOTLOOM_WINDOWS_PACKAGE "dotloom-${PROJECT_VERSION}-windows-x86_64")
set(CPACK_PACKAGE_FILE_NAME "${DOTLOOM_WINDOWS_PACKAGE}")
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_LIST_DIR}/windows_generators.cmake)
set(CPACK_POST_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/sha256sums.cmake)

# The installer: our own script (NSIS.template.in here) rather than CPack's, which installs for
# all users and asks for administrator rights. Per user, into %LOCALAPPDATA%\Programs\Dotloom.
list(APPEND CMAKE_MODULE_PATH ${CMAKE_CURRENT_LIST_DIR})
set(CPACK_NSIS_PACKAGE_NAME Dotloom)
set(CPACK_NSIS_DISPLAY_NAME Dotloom)
set(CPACK_PACKAGE_INSTALL_DIRECTORY Dotloom)
set(CPACK_PACKAGE_INSTALL_REGISTRY_KEY Dotloom)
set(CPACK_NSIS_COMPRESSOR "/SOLID lzma")
set(CPACK_NSIS_MUI_ICON ${PROJECT_SOURCE_DIR}/packaging/dotloom.ico)
set(CPACK_NSIS_MUI_UNIICON ${PROJECT_SOURCE_DIR}/packaging/dotloom.ico)
