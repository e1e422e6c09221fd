# SPDX-License-Identifier: MIT
# Copyright (c) 2026 The Dotloom authors
# Writes OUTPUT: the loader emscripten wrote (LOADER), the program beside it in base64 as
# dotloomProgram, then APP.
file(READ ${LOADER} loader)
get_filename_component(folder ${LOADER} DIRECTORY)
get_filename_component(name ${LOADER} NAME_WE)
execute_process(COMMAND base64 -w0 ${folder}/${name}.wasm OUTPUT_VARIABLE program
                COMMAND_ERROR_IS_FATAL ANY)
file(READ ${APP} app)
file(WRITE ${OUTPUT} "${loader}\nconst dotloomProgram = '${program}';\n${app}")
