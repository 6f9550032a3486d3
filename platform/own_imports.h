// An executable that another program loads as a module to call its exports may find its own
// imports unbound and its start-up code not run. BindOwnImports binds them the way the loader
// would have; it is called first by every export. False when that fails; where the OS loader
// always binds a module's imports there is nothing to do.
#pragma once

namespace omr72 {

#if defined(_WIN32)
bool BindOwnImports();  // platform/win32/bind_imports.cpp
#else
inline bool BindOwnImports() {
  return true;
}
#endif

}  // namespace omr72
