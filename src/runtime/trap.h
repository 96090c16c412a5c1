// Trap dispatch: the bridge from the interpreter's `trap n` to the builtin
// table.
//
// trap_dispatch is the interpreter's trap handler (installed once at start-up
// with install_trap_dispatch, which names the table: the runtime's own is
// builtin_table, which lives with the builtin families above this layer). It refuses unknown
// numbers, checks argument counts in DebugMode, then runs the builtin's handler under builtin_lock
// with current_context pointing at the calling context, and writes the
// result into r0 of whatever context current_context designates afterwards
// (the flow builtins `jump` and `longjmp` switch it).
#pragma once

#include <cstdint>
#include <mutex>
#include <span>

#include "runtime/builtins.h"
#include "script/vm.h"

namespace talven::runtime {

using script::VmContext;

// Held around every builtin handler, so builtins run one at a time whatever
// script thread calls them. The main thread never takes it.
extern std::mutex builtin_lock;

// The context whose builtin call is being served; meaningful only while
// builtin_lock is held. Handlers of the flow builtins replace it.
extern VmContext* current_context;

// The trap handler over the installed table. Returns nonzero when the
// calling slice must end.
int trap_dispatch(std::uint16_t code, VmContext* context);

// trap_dispatch over a given table (the real one is builtin_table); numbers
// at or past its end are illegal codes.
int trap_dispatch_with(std::span<const BuiltinEntry> table, std::uint16_t code, VmContext* context);

// The number of argument words a caller passed, read from the stack
// adjustment `add r7, 4*n` at the return address; 0 when there is none or
// it cannot be read.
std::int32_t passed_argument_count(const VmContext& context);

// Installs trap_dispatch over `table` as the interpreter's trap handler.
void install_trap_dispatch(std::span<const BuiltinEntry> table);

}  // namespace talven::runtime
