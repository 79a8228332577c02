// SPDX-License-Identifier: MIT
// The firmware's last words when an exception reaches no handler (on the board: memory
// exhausted inside the C++ runtime). GCC's own handler demangles the exception's type
// name first, and its demangler is 45 KB of every program on the board's flash; the
// mangled name ("St9bad_alloc") tells a developer the same. Linked into each program of
// the board build only, in place of the runtime's handler of the same name.
#include <cxxabi.h>
#include <stdio.h>
#include <stdlib.h>

#include <exception>
#include <typeinfo>

namespace __gnu_cxx {

void __verbose_terminate_handler() {
  const std::type_info *type = abi::__cxa_current_exception_type();
  if (type)
    fprintf(stderr, "terminate called after throwing an instance of '%s'\n", type->name());
  else
    fputs("terminate called without an active exception\n", stderr);
  abort();
}

}  // namespace __gnu_cxx
