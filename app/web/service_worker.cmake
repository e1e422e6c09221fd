# SPDX-License-Identifier: MIT
# Copyright (c) 2026 The Dotloom authors
# Writes SITE/sw.js from WORKER, its cache named by the release and a digest of FILES as built.
set(contents "")
foreach(file IN LISTS FILES)
  file(SHA256 ${SITE}/${file} digest)
  string(APPEND contents "${file} ${digest}\n")
endforeach()
string(SHA256 DOTLOOM_SITE_DIGEST "${contents}")
string(SUBSTRING ${DOTLOOM_SITE_DIGEST} 0 16 DOTLOOM_SITE_DIGEST)
configure_file(${WORKER} ${SITE}/sw.js @ONLY)
