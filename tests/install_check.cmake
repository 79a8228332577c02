# SPDX-License-Identifier: MIT
# Installs the library into a staging folder and builds a C program against it with
# the flags that pkg-config gives, as an outside server's build would.
file(REMOVE_RECURSE ${WORK})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${WORK}/prefix
  RESULT_VARIABLE rc OUTPUT_QUIET)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "install failed")
endif()
set(ENV{PKG_CONFIG_PATH} ${WORK}/prefix/lib/pkgconfig)
execute_process(COMMAND pkg-config --cflags --libs kvinterface
  OUTPUT_VARIABLE flags RESULT_VARIABLE rc OUTPUT_STRIP_TRAILING_WHITESPACE)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "pkg-config does not know kvinterface")
endif()
file(WRITE ${WORK}/client.c "#include <kv/msg_util.h>\n#include <kv/share_mem.h>\n#include <kv/sem_util.h>\nint main(void) { SemHandl_t h = MakeSem(); (void)Msg_Init; return DestroySem(h); }\n")
separate_arguments(flag_list UNIX_COMMAND "${flags} ${EXTRA_FLAGS}")
# The sanitizers of a dev build travel with the archive; a real client build has none.
# With the build's own C compiler (the cross compiler in the build for the board).
if(NOT CC)
  set(CC cc)
endif()
execute_process(COMMAND ${CC} -std=c99 -Wall -Werror ${WORK}/client.c -o ${WORK}/client ${flag_list}
  RESULT_VARIABLE rc ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "client did not build: ${err}")
endif()
foreach(h msg_util.h share_mem.h sem_util.h board_root.h)
  if(NOT EXISTS ${WORK}/prefix/include/kv/${h})
    message(FATAL_ERROR "header ${h} not installed")
  endif()
endforeach()
