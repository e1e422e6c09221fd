# SPDX-License-Identifier: MIT
# Copyright (c) 2026 The Dotloom authors
# Run by cpack after each generator: SHA256SUMS beside the packages, in the form
# `sha256sum -c` reads. Lines for this run's packages are replaced; lines for packages no
# longer in the folder are dropped.
set(sums_file "${CPACK_PACKAGE_DIRECTORY}/SHA256SUMS")
set(lines "")
set(names "")
foreach(package IN LISTS CPACK_PACKAGE_FILES)
  get_filename_component(name "${package}" NAME)
  file(SHA256 "${package}" hash)
  list(APPEND lines "${name}|${hash}")
  list(APPEND names "${name}")
endforeach()
if(EXISTS "${sums_file}")
  file(STRINGS "${sums_file}" old_lines)
  foreach(line IN LISTS old_lines)
    if(line MATCHES "^([0-9a-f]+)  (.+)$")
      set(name "${CMAKE_MATCH_2}")
      if(NOT name IN_LIST names AND EXISTS "${CPACK_PACKAGE_DIRECTORY}/${name}")
        list(APPEND lines "${name}|${CMAKE_MATCH_1}")
      endif()
    endif()
  endforeach()
endif()
list(SORT lines)  # by name, whichever generator ran last
set(text "")
foreach(line IN LISTS lines)
  string(REGEX REPLACE "^(.+)\\|([0-9a-f]+)$" "\\2  \\1\n" line "${line}")
  string(APPEND text "${line}")
endforeach()
file(WRITE "${sums_file}" "${text}")
