// Per-thread working storage kept for the thread's whole life: a buffer a
// hot function reuses instead of allocating on every call.
//
// The object is made on the thread's first call and freed through
// at_thread_exit, never by a thread_local object's destructor (see
// thread_exit.h for why). Each call site gets its own object: `Site` is the
// type of a lambda written at the site, `thread_owned<T>([] {})`.
#pragma once

#include "script/thread_exit.h"

namespace talven::script {

template <typename T, typename Site>
T& thread_owned(Site) {
  static constinit thread_local T* owned = nullptr;
  if (!owned) {
    owned = new T();
    at_thread_exit([](void* p) { delete static_cast<T*>(p); }, owned);
  }
  return *owned;
}

}  // namespace talven::script
