// replaced.h - the library's own definition of a function qvprinter replaces.
//
// qvprinter defines some of libpappl's (and libcups') functions itself; the
// program exports them (QV_PRINTER_REPLACED_SYMBOLS in CMakeLists.txt), so
// the libraries' own calls land in ours, and ours reach the original here.
#pragma once

#include <dlfcn.h>

namespace qvprinter {

// The next definition of `name` after the program's (the library's), or
// nullptr where the library has none.
template <typename Function>
Function originalFunction(const char* name) {
  return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

}  // namespace qvprinter
