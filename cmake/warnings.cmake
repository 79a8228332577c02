find_package(Threads REQUIRED)

# Warnings are on and fatal in the project's own code.
set(KV_WARNING_FLAGS
  -Wall -Wextra -Werror -Wshadow -Wformat=2 -Wundef -Wpointer-arith
  -Wcast-qual -Wvla -Wno-missing-field-initializers)

function(kv_warnings target)
  target_compile_options(${target} PRIVATE ${KV_WARNING_FLAGS})
endfunction()

# Every program of the system: warnings and threads (libatomic, for the 64-bit atomics
# that ARMv5 cannot do lock-free, comes with the board's toolchain). Installed under bin/.
function(kv_program target)
  kv_warnings(${target})
  target_link_libraries(${target} PRIVATE kvinterface Threads::Threads)
  if(KV_BOARD_BUILD)
    target_compile_definitions(${target} PRIVATE KV_BOARD_BUILD=1)
  endif()
  install(TARGETS ${target} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endfunction()
