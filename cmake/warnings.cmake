# SPDX-License-Identifier: MIT
find_package(Threads REQUIRED)

# Warnings are on in the project's own code. They stop the build only where the project
# asks for it (its presets and CI): an integrator's or a distribution's compiler, newer or
# with other flags, may warn where ours does not, and that must not break their build.
option(KV_WARNINGS_AS_ERRORS "Make every compiler warning of the project's code an error" OFF)
set(KV_WARNING_FLAGS
  -Wall -Wextra -Wshadow -Wformat=2 -Wundef -Wpointer-arith
  -Wcast-qual -Wvla -Wno-missing-field-initializers)
if(KV_WARNINGS_AS_ERRORS)
  list(APPEND KV_WARNING_FLAGS -Werror)
endif()

function(kv_warnings target)
  target_compile_options(${target} PRIVATE ${KV_WARNING_FLAGS})
endfunction()
# Every program of the system: warnings and threads (libatomic, for the 64-bit atomics
# that ARMv5 cannot do lock-free, comes with the library: cmake/target.cmake). Installed
# under bin/, the firmware's part of the install.
function(kv_program target)
  kv_warnings(${target})
  target_link_libraries(${target} PRIVATE kvcmdline kvinterface Threads::Threads)
  if(KV_BOARD_BUILD)
    target_compile_definitions(${target} PRIVATE KV_BOARD_BUILD=1)
  endif()
  install(TARGETS ${target} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT firmware)
endfunction()
