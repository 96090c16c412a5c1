// log_out and log_clear: script lines for the debug output.
#include "lib/log_builtins.h"

#include "base/debug_output.h"
#include "lib/format.h"
#include "runtime/bind.h"
#include "runtime/trap.h"

namespace talven::lib {

std::uint32_t bi_log_out(Addr args) {
  const bool window = debug_output_exists();
  if (!window && !debug_output_echoing()) return 0;
  auto format = cstr(runtime::uarg(args, 0));
  if (!format) return 0;
  // Arguments are read no further than the top of the caller's stack.
  const runtime::VmContext* c = runtime::current_context;
  Addr limit = c ? c->stack + c->stack_size : args;
  debug_output_append(format_script_args(*format, args + 4, limit));
  return window ? 1 : 0;
}

bool bi_log_clear() {
  if (!debug_output_exists()) return false;
  debug_output_clear();
  return true;
}

}  // namespace talven::lib
