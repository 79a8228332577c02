# SPDX-License-Identifier: MIT
# The card that fails as SD cards fail (card_fs.cpp): a FUSE file system, built where
# libfuse3 is installed (Debian: libfuse3-dev, and fuse3 to run it). Not for the board's
# processor: the card stays on the workstation.
if(NOT CMAKE_CROSSCOMPILING)
  find_package(PkgConfig QUIET)
  if(PkgConfig_FOUND)
    pkg_check_modules(FUSE3 QUIET IMPORTED_TARGET fuse3)
  endif()
  if(FUSE3_FOUND)
    kv_standin(kv_cardfs card_fs.cpp)
    target_link_libraries(kv_cardfs PRIVATE PkgConfig::FUSE3)
  else()
    kv_missing(libfuse3 "libfuse3-dev fuse3" "the card's faults must be tested in CI"
               "the card's fault tests will skip")
  endif()
endif()
