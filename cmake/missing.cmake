# SPDX-License-Identifier: MIT
# A tool or library that a part of the build needs and that is not installed. On a
# developer's machine that part is left out, with a warning that says what to install;
# under CI (CI=true) the configure fails instead, so that nothing goes untested unseen.
#   kv_missing(<what> <Debian packages> <why CI needs it> <what goes without it>)
# The caller leaves the part out itself (return() or its else branch).
function(kv_missing what packages ci_text local_text)
  if("$ENV{CI}" STREQUAL "true")
    message(FATAL_ERROR "${what} not found (Debian: ${packages}): ${ci_text}")
  endif()
  message(WARNING "${what} not found (Debian: ${packages}): ${local_text}")
endfunction()
