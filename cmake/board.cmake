# SPDX-License-Identifier: MIT
# The programs for the board's processor, and how this workstation runs them.
include(${CMAKE_CURRENT_LIST_DIR}/qemu-arm.cmake)
string(REPLACE ";" " " KV_ARM_EMULATOR_COMMAND "${KV_ARM_EMULATOR}")
# Where the workstation's tests find the programs built for the board's processor with the
# board root compiled in (the board-test preset), to run them against its own stand-ins.
set(KV_BOARD_TEST_DIR ${PROJECT_SOURCE_DIR}/build/board-test CACHE PATH
  "The board-test build, for the cross-architecture tests")

# The firmware's footprint: every program must fit the board's flash and memory next to
# the video servers (at most 150 KB stripped, the C++ runtime linked in). The firmware
# uses neither exceptions nor RTTI (no C function may let an exception through, and an
# allocation failure ends a program either way), so both go; every function and object a
# program does not reach is dropped at link time; and the runtime's demangling terminate
# handler is replaced (board_terminate.cpp). A link map per program
# (map/<program>.map) lets cmake/footprint.sh name what a program's bytes are spent on.
#
# Applied to every target of the firmware's folders `dirs` (and their subfolders) in both
# builds for the board's processor, so that the programs tested under qemu-arm are built
# as the board's are, the board root aside; the tests and the stand-ins keep the defaults.
function(kv_board_footprint)
  if(NOT CMAKE_CROSSCOMPILING)
    return()
  endif()
  set(dirs)
  foreach(dir ${ARGN})
    if(EXISTS ${PROJECT_SOURCE_DIR}/${dir}/CMakeLists.txt)
      list(APPEND dirs ${PROJECT_SOURCE_DIR}/${dir})
    endif()
  endforeach()
  file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/map)
  while(dirs)
    list(POP_FRONT dirs dir)
    get_property(subdirs DIRECTORY ${dir} PROPERTY SUBDIRECTORIES)
    list(APPEND dirs ${subdirs})
    get_property(targets DIRECTORY ${dir} PROPERTY BUILDSYSTEM_TARGETS)
    foreach(target ${targets})
      get_target_property(type ${target} TYPE)
      if(NOT type MATCHES "^(EXECUTABLE|STATIC_LIBRARY|OBJECT_LIBRARY)$")
        continue()
      endif()
      target_compile_options(${target} PRIVATE -ffunction-sections -fdata-sections
        "$<$<COMPILE_LANGUAGE:CXX>:-fno-exceptions;-fno-rtti>")
      if(type STREQUAL "EXECUTABLE")
        # A program linked as a C program (i2c_rw) carries no C++ runtime to trim.
        get_target_property(language ${target} LINKER_LANGUAGE)
        if(NOT language STREQUAL "C")
          target_sources(${target} PRIVATE ${PROJECT_SOURCE_DIR}/cmake/board_terminate.cpp)
        endif()
        target_link_options(${target} PRIVATE LINKER:--gc-sections
          "LINKER:-Map=${CMAKE_BINARY_DIR}/map/$<TARGET_FILE_NAME:${target}>.map")
      endif()
    endforeach()
  endwhile()
endfunction()
