// Trap dispatch: illegal numbers, the DebugMode argument-count check, the
// builtin lock and the result hand-over.
#include "runtime/trap.h"

#include <new>
#include <stdexcept>

#include "base/config.h"
#include "base/messages.h"
#include "script/line_table.h"
#include "script/opcodes.h"

namespace talven::runtime {

std::mutex builtin_lock;
VmContext* current_context = nullptr;

namespace {
std::span<const BuiltinEntry> active_table;
}  // namespace

namespace {

// A bad builtin call stops every script, like a run-time error.
void stop_on_bad_call(VmContext* context) {
  context->state = script::kVmError;
  script::vm_stop_flag.set();
}

// A builtin call as messages see it: the registers that locate the call,
// copied at the trap (a handler may replace or free the context).
struct TrapCallSite : BuiltinCallSite {
  Addr pc = 0, frame = 0, stack = 0;
};

std::string describe_trap_call(const BuiltinCallSite& site) {
  const auto& call = static_cast<const TrapCallSite&>(site);
  VmContext at{};
  at.pc = call.pc;
  at.r[script::kRegFrame] = call.frame;
  at.r[script::kRegStack] = call.stack;
  return script::describe_call_chain(script::call_chain(at, call.pc));
}

}  // namespace

std::int32_t passed_argument_count(const VmContext& context) {
  std::uint32_t return_address;
  if (!load32(context.r[script::kRegStack], return_address)) return 0;
  std::uint16_t prefix;
  std::uint32_t bytes;
  if (!load16(return_address, prefix) || prefix != script::kArgAdjustPrefix) return 0;
  if (!load32(return_address + 2, bytes)) return 0;
  return static_cast<std::int32_t>(bytes) / 4;
}

int trap_dispatch_with(std::span<const BuiltinEntry> table, std::uint16_t code,
                       VmContext* context) {
  if (!context) return 1;
  if (code >= table.size()) {
    stop_on_bad_call(context);
    const std::string text = format_message("Illegal code - #%d", static_cast<int>(code));
    report_message_detailed(
        1, text,
        script::runtime_error_report(text, "no builtin has this number", context, context->pc));
    return 1;
  }
  const BuiltinEntry& entry = table[code];

  // The count check reads only the constant table and the caller's own
  // stack, so it runs outside the lock.
  if (config().DebugMode != 0 && entry.argc >= 0) {
    const std::int32_t passed = passed_argument_count(*context);
    if (passed != entry.argc) {
      stop_on_bad_call(context);
      const std::string text = format_message(
          passed < entry.argc ? "Not enough arguments. - %s" : "Too many arguments. - %s",
          entry.name);
      const std::string gloss = "the builtin takes " + std::to_string(entry.argc) + " argument" +
                                (entry.argc == 1 ? "" : "s") + ", the call passes " +
                                std::to_string(passed);
      report_message_detailed(1, text,
                              script::runtime_error_report(text, gloss, context, context->pc));
      return 1;
    }
  }

  // Messages the handler reports name the builtin and the place of the call.
  TrapCallSite site;
  site.builtin = entry.name;
  site.describe = describe_trap_call;
  site.pc = context->pc;
  site.frame = context->r[script::kRegFrame];
  site.stack = context->r[script::kRegStack];
  std::lock_guard<std::mutex> lock(builtin_lock);
  current_context = context;
  // A builtin that runs out of host memory gives the failure result 0; the
  // exception never reaches the script thread.
  std::uint32_t result = 0;
  try {
    BuiltinCallScope scope(&site);
    result = entry.handler ? entry.handler(context->r[script::kRegStack] + 4) : 0;
  } catch (const std::bad_alloc&) {
    result = 0;
  } catch (const std::length_error&) {
    result = 0;
  }
  if (current_context) current_context->r[script::kRegResult] = result;
  // With guard checking, a write the builtin was refused (into a guard zone
  // or freed memory) is the caller's run-time error.
  if (script_space().guards_enabled()) {
    if (std::optional<GuardFault> fault = take_guard_fault()) {
      script::vm_raise_guard(context, fault->address, fault->what);
      return 1;
    }
  }
  return entry.ends_slice;
}

int trap_dispatch(std::uint16_t code, VmContext* context) {
  return trap_dispatch_with(active_table, code, context);
}

void install_trap_dispatch(std::span<const BuiltinEntry> table) {
  active_table = table;
  script::vm_set_trap_handler(&trap_dispatch);
}

}  // namespace talven::runtime
