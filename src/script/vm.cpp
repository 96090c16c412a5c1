// The script interpreter: context lifetime and the dispatch loop.
//
// A slice keeps the registers, flags and pc in a Machine, a local of the
// dispatch loop (run_slices) whose fields the compiler keeps in host
// registers, and writes them back whenever control leaves the loop (end of
// slice, error, finish, builtin call). Each op kind has one handler,
// exec_OP_<NAME> or exec_BK_<NAME>: a small function forced inline that
// runs the op and returns where control goes (Flow). The loop has one label
// per kind, generated from the lists in script/opcodes.h and
// script/vm_translate.h, that calls the handler and follows the Flow; ops
// jump to each other's labels through TOp::handler (computed goto), or
// through a switch on the handler's number where the compiler has no
// computed goto.
//
// Code inside the context's program area runs as pre-decoded blocks;
// everything else (code elsewhere, code that cannot be decoded, the rest of
// a slice that ends inside a block, all code when translation is off or
// there is no computed goto) is decoded from the image one instruction at a
// time into a block of one op and run by the same handlers. Script memory
// is reached through the address space base kept in the Machine; every
// access is range-checked against the space's committed limit with one
// compare, and re-checked against a fresh limit before it is declared
// invalid (the limit only grows).
#include "script/vm.h"

#include <atomic>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>
#include <optional>
#include <string>

#include "base/messages.h"
#include "script/array_bounds.h"
#include "script/compiler.h"
#include "script/line_table.h"
#include "script/native_code.h"
#include "script/opcodes.h"
#include "script/vm_translate.h"

// Computed goto where the compiler has it; a switch otherwise.
#ifndef TALVEN_VM_COMPUTED_GOTO
#if defined(__GNUC__) || defined(__clang__)
#define TALVEN_VM_COMPUTED_GOTO 1
#else
#define TALVEN_VM_COMPUTED_GOTO 0
#endif
#endif

namespace talven::script {

VmStopFlag vm_stop_flag;

namespace {

std::atomic<TrapHandler> g_trap_handler{nullptr};
std::atomic<SliceHook> g_slice_hook{nullptr};

// The stop flag word. It lives in script memory (its address is published);
// a host word stands in only if the space could not give us four bytes.
std::uint32_t g_stop_fallback = 0;

struct StopWord {
  std::uint32_t* word;
  Addr address;
};

const StopWord& stop_word() {
  static const StopWord w = [] {
    Addr a = script_zalloc(4);
    std::uint8_t* p = a ? span(a, 4) : nullptr;
    if (!p) return StopWord{&g_stop_fallback, 0};
    return StopWord{reinterpret_cast<std::uint32_t*>(p), a};
  }();
  return w;
}

inline float as_float(std::uint32_t bits) {
  float f;
  std::memcpy(&f, &bits, 4);
  return f;
}

inline std::uint32_t float_bits(float f) {
  std::uint32_t v;
  std::memcpy(&v, &f, 4);
  return v;
}

// Float arithmetic rD op rS. When an operand is a NaN the result is the
// first NaN of rD, rS, made quiet, whatever order the host compiler puts the
// operands in (machine code for blocks gives the same).
enum class FloatOp { kAdd, kSub, kMul, kDiv };
inline std::uint32_t float_op(FloatOp op, std::uint32_t d, std::uint32_t s) {
  constexpr std::uint32_t kQuiet = 0x00400000u;
  const auto nan = [](std::uint32_t b) {
    return (b & 0x7F800000u) == 0x7F800000u && (b & 0x007FFFFFu) != 0;
  };
  if (nan(d)) return d | kQuiet;
  if (nan(s)) return s | kQuiet;
  const float x = as_float(d), y = as_float(s);
  switch (op) {
    case FloatOp::kAdd: return float_bits(x + y);
    case FloatOp::kSub: return float_bits(x - y);
    case FloatOp::kMul: return float_bits(x * y);
    default: return float_bits(x / y);
  }
}

// Float to integer, truncated. Values with no 32-bit integer (NaN, out of
// range) give 0x80000000, the integer-indefinite value of x86 conversions.
inline std::uint32_t float_to_int(float f) {
  if (f >= -2147483648.0f && f < 2147483648.0f)
    return static_cast<std::uint32_t>(static_cast<std::int32_t>(f));
  return 0x80000000u;
}

}  // namespace

// ---- the stop flag ----------------------------------------------------------

std::uint32_t* VmStopFlag::word() const { return stop_word().word; }
Addr VmStopFlag::address() const { return stop_word().address; }

bool VmStopFlag::is_set() const {
  return std::atomic_ref<std::uint32_t>(*word()).load(std::memory_order_relaxed) != 0;
}
void VmStopFlag::set() {
  std::atomic_ref<std::uint32_t>(*word()).store(1, std::memory_order_relaxed);
}
void VmStopFlag::clear() {
  std::atomic_ref<std::uint32_t>(*word()).store(0, std::memory_order_relaxed);
}

// ---- errors -------------------------------------------------------------------

const char* vm_error_message(VmError error) {
  switch (error) {
    case kErrDivideByZero: return "Divide by zero error.";
    case kErrOutOfMemory: return "Out of memory error";
    case kErrStackOverflow: return "Stack overflow error.";
    case kErrInvalidCode: return "Invalid code error";
    case kErrInvalidAddress: return "Invalid address error - 0x%08X";
  }
  return "Invalid code error";
}

void vm_raise(VmContext* context, VmError error, Addr address) {
  // Stop everything first: the message may block this thread for a while
  // and no other script should go on running meanwhile.
  if (context) context->state = kVmError;
  vm_stop_flag.set();
  static constexpr const char* kStackGloss =
      "script stack overflow: the thread's stack (StackSize, or the size thd_begin gave) is used "
      "up, by deep recursion or large local arrays";
  static constexpr const char* kGlosses[] = {
      "integer division by zero", "call through a null function address", kStackGloss,
      "invalid instruction", "memory access outside script memory"};
  std::string text = error == kErrInvalidAddress
                         ? format_message("Invalid address error - 0x%08X", address)
                         : std::string(vm_error_message(error));
  const char* gloss =
      error >= 0 && error <= kErrInvalidAddress ? kGlosses[error] : kGlosses[kErrInvalidCode];
  report_message_detailed(1, text,
                          runtime_error_report(text, gloss, context, context ? context->pc : 0));
}

void vm_raise_guard(VmContext* context, Addr address, const std::string& what) {
  if (context) context->state = kVmError;
  vm_stop_flag.set();
  const std::string text = format_message("Invalid address error - 0x%08X", address);
  report_message_detailed(1, text,
                          runtime_error_report(text, what, context, context ? context->pc : 0));
}

// ---- lifetime ---------------------------------------------------------------

VmContext* vm_create(std::int32_t program_size, std::int32_t stack_size) {
  if (program_size < 0 || stack_size < 0) return nullptr;
  const auto psize = static_cast<std::uint32_t>(program_size);
  const auto ssize = static_cast<std::uint32_t>(stack_size);

  Addr program = script_zalloc(psize + 4);
  if (!program) return nullptr;
  Addr stack = script_zalloc(ssize);
  auto* ctx = stack ? new (std::nothrow) VmContext{} : nullptr;
  if (!ctx || !store32(program + psize, 1)) {
    delete ctx;
    if (stack) script_free(stack);
    script_free(program);
    return nullptr;
  }
  ctx->program = program;
  ctx->pc = program;
  ctx->program_users = program + psize;
  ctx->program_size = psize;
  ctx->stack = stack;
  ctx->stack_size = ssize;
  ctx->r[kRegStack] = stack + ssize;
  // A translation this thread kept for an earlier area at the same address
  // describes other code.
  forget_translation(program);
  return ctx;
}

VmContext* vm_clone(const VmContext* context, std::int32_t stack_size) {
  if (!context) return nullptr;
  const std::uint32_t ssize =
      stack_size <= 0 ? context->stack_size : static_cast<std::uint32_t>(stack_size);
  std::uint32_t users;
  if (!load32(context->program_users, users)) return nullptr;

  Addr stack = script_zalloc(ssize);
  if (!stack) return nullptr;
  auto* ctx = new (std::nothrow) VmContext{};
  if (!ctx || !store32(context->program_users, users + 1)) {
    delete ctx;
    script_free(stack);
    return nullptr;
  }
  ctx->program = context->program;
  ctx->pc = context->program;
  ctx->program_users = context->program_users;
  ctx->program_size = context->program_size;
  ctx->stack = stack;
  ctx->stack_size = ssize;
  ctx->r[kRegStack] = stack + ssize;
  return ctx;
}

void vm_free(VmContext* context) {
  if (!context) return;
  // The count is script memory; if it cannot be read the area is leaked
  // rather than freed under another user.
  std::uint32_t users;
  if (load32(context->program_users, users)) {
    users -= 1;
    store32(context->program_users, users);
    if (static_cast<std::int32_t>(users) <= 0) {
      // Functions this area exported can no longer be linked or called.
      forget_exports_in(context->program, context->program_size);
      forget_line_table(context->program);
      forget_array_stores(context->program);
      script_free(context->program);
    }
  }
  script_free(context->stack);
  delete context;
}

void vm_set_trap_handler(TrapHandler handler) {
  g_trap_handler.store(handler, std::memory_order_release);
}

TrapHandler vm_trap_handler() { return g_trap_handler.load(std::memory_order_acquire); }

void vm_set_slice_hook(SliceHook hook) { g_slice_hook.store(hook, std::memory_order_release); }

// ---- the interpreter's state -------------------------------------------------

namespace {

// Instruction semantics and the pieces of the dispatch loop are small
// functions forced inline into it, and no pointer to the Machine leaves the
// loop, so the compiler can keep its fields in host registers for the
// length of a slice.
#define TALVEN_VM_INLINE [[gnu::always_inline]] inline

// Where control goes after an op's handler.
enum class Flow : std::uint8_t {
  kNext,         // the next op of the block
  kTaken,        // pc = the op's fixed target, through the block's `taken` link
  kFall,         // pc = the address after the op, through `fall`
  kTakenVar,     // pc varies (a call through a register): through `taken`, checked
  kFallVar,      // pc varies (after a builtin): through `fall`, checked
  kReturn,       // pc = a popped return address
  kRejoin,       // a builtin moved pc or rewrote the code after it: pc afresh
  kFinished,     // the context finished at pc
  kError,        // run-time error Machine::error at pc
  kBadAddress,   // access outside script memory at Machine::bad, at pc
  kGuardFault,   // guard-checked write at Machine::bad (bad_len bytes), at pc
  kCodeWritten,  // a store changed translated bytes
  kGone,         // a builtin ended the slice; the context may be gone
};

// The state of a running slice.
struct Machine {
  std::uint32_t* r;    // the eight registers (in the state machine code uses)
  std::uint8_t* base;  // host address of script address 0
  AddressSpace* space;
  // Offsets below kLowLimit wrap to huge values, so one compare against
  // hi = limit - kLowLimit tests both ends of a range.
  std::uint64_t hi;
  Addr pc;
  unsigned budget;  // instructions left in the slice
  bool zf, lf, bf;
  // Guard checking (DebugMode): every store is tested against the guard
  // zones, freed memory and the bounds of the array it was indexed from.
  bool guarded;
  // Translated bytes: a store into [code_lo, code_lo + code_span) may
  // change code.
  Addr code_lo;
  std::uint32_t code_span;
  Addr stack;
  std::uint32_t stack_size;
  // What went wrong, for the error exits.
  Addr bad;
  std::uint32_t bad_len;
  VmError error;
  VmContext* ctx;
  TrapHandler trap_handler;
  Translation* tr;  // null: every instruction runs from the image
  // Host writes into translated code (builtins, devices) advance the
  // space's code epoch; it is read again after each builtin call and
  // between slices, and blocks are compared with the image again when it
  // moved.
  std::uint32_t epoch;

  TALVEN_VM_INLINE bool in_space(Addr a, std::uint64_t len) const {
    return static_cast<std::uint64_t>(static_cast<std::uint32_t>(a - kLowLimit)) + len <= hi;
  }
  // Whether [a, a + len) is script memory; the limit is read again before
  // the answer is no (it only grows).
  TALVEN_VM_INLINE bool reachable(Addr a, std::uint64_t len) {
    if (in_space(a, len)) [[likely]]
      return true;
    hi = space->limit() - kLowLimit;
    return in_space(a, len);
  }
  TALVEN_VM_INLINE bool stack_ok(Addr sp) const {
    return static_cast<std::uint32_t>(sp - stack) < stack_size;
  }
  TALVEN_VM_INLINE Addr frame(std::uint32_t disp) const { return r[kRegFrame] + disp; }

  // Failures: pc is where the failing instruction ends.
  TALVEN_VM_INLINE Flow fail(VmError e, Addr at_pc) {
    pc = at_pc;
    error = e;
    return Flow::kError;
  }
  TALVEN_VM_INLINE Flow bad_address(Addr a, Addr at_pc) {
    bad = a;
    pc = at_pc;
    return Flow::kBadAddress;
  }

  template <class T, class Out>
  TALVEN_VM_INLINE Flow load(Addr a, Out& out, Addr at_pc) {
    if (!reachable(a, sizeof(T))) [[unlikely]]
      return bad_address(a, at_pc);
    T v;
    std::memcpy(&v, base + a, sizeof(T));
    out = v;
    return Flow::kNext;
  }
  // With guard checking the write may touch neither a guard zone, nor freed
  // memory, nor (for a store the compiler computed from an array's base)
  // anything outside that array.
  TALVEN_VM_INLINE Flow guard(Addr a, std::uint32_t len, Addr at_pc) {
    if (guarded && (space->guard_hit(a, len) ||
                    array_store_fault(at_pc, a, len, r[kRegFrame]).has_value())) [[unlikely]] {
      bad = a;
      bad_len = len;
      pc = at_pc;
      return Flow::kGuardFault;
    }
    return Flow::kNext;
  }
  // Stores write memory only; an op that stores ends with code_check on
  // the address, after all its other effects.
  template <class T>
  TALVEN_VM_INLINE Flow store(Addr a, std::uint32_t value, Addr at_pc) {
    if (!reachable(a, sizeof(T))) [[unlikely]]
      return bad_address(a, at_pc);
    if (const Flow f = guard(a, sizeof(T), at_pc); f != Flow::kNext) return f;
    const T v = static_cast<T>(value);
    std::memcpy(base + a, &v, sizeof(T));
    return Flow::kNext;
  }
  TALVEN_VM_INLINE Flow code_check(Addr a) const {
    return static_cast<std::uint32_t>(a - code_lo) < code_span ? Flow::kCodeWritten : Flow::kNext;
  }

  TALVEN_VM_INLINE void note_host_writes() {
    const std::uint32_t e = space->code_epoch();
    if (tr && e != epoch) {
      epoch = e;
      ++tr->stamp;
    }
  }
  // The translated bytes grew: stores there may change code.
  TALVEN_VM_INLINE void refresh_hull() {
    if (tr->hi > tr->lo) {
      code_lo = tr->lo;
      code_span = tr->hi - tr->lo;
      space->watch_code(tr->lo, tr->hi);
    }
  }
};

// Passes a failure of a step on to the caller.
#define TRY(step) \
  do { \
    const Flow flow_ = (step); \
    if (flow_ != Flow::kNext) [[unlikely]] \
      return flow_; \
  } while (0)

// 32-bit frame-slot accesses of ops with a frame window: unchecked when the
// window was found inside script memory on the block's entry (and r6 has
// not changed since). The window only stands for the address check: with
// guard checking an unchecked store is still guard-checked, since a frame
// slot may be a local array's element (buf[4] = v with a constant index).
template <bool kUnchecked>
TALVEN_VM_INLINE Flow frame_load(Machine& m, Addr a, std::uint32_t& out, Addr at_pc) {
  if constexpr (kUnchecked) {
    std::uint32_t v;
    std::memcpy(&v, m.base + a, 4);
    out = v;
    return Flow::kNext;
  } else {
    return m.load<std::uint32_t>(a, out, at_pc);
  }
}
template <bool kUnchecked>
TALVEN_VM_INLINE Flow frame_store(Machine& m, Addr a, std::uint32_t value, Addr at_pc) {
  if constexpr (kUnchecked) {
    TRY(m.guard(a, 4, at_pc));
    std::memcpy(m.base + a, &value, 4);
    return Flow::kNext;
  } else {
    return m.store<std::uint32_t>(a, value, at_pc);
  }
}

// r1..r6 into the frame save area, one word at a time: the registers were
// just written one word at a time, and a wider read of them would wait for
// those stores to reach the cache instead of taking them from the store
// buffer.
TALVEN_VM_INLINE void save_frame(std::uint8_t* dst, const std::uint32_t* r) {
  std::uint32_t w1 = r[1], w2 = r[2], w3 = r[3];
  std::uint32_t w4 = r[4], w5 = r[5], w6 = r[6];
  asm("" : "+r"(w1), "+r"(w2), "+r"(w3));
  asm("" : "+r"(w4), "+r"(w5), "+r"(w6));
  std::memcpy(dst, &w1, 4);
  std::memcpy(dst + 4, &w2, 4);
  std::memcpy(dst + 8, &w3, 4);
  std::memcpy(dst + 12, &w4, 4);
  std::memcpy(dst + 16, &w5, 4);
  std::memcpy(dst + 20, &w6, 4);
}
// r1..r6 back from the frame save area, one word at a time for the same
// reason: enter may have stored those words only a few operations ago.
TALVEN_VM_INLINE void restore_frame(const std::uint8_t* src, std::uint32_t* r) {
  std::uint32_t w1, w2, w3, w4, w5, w6;
  std::memcpy(&w1, src, 4);
  std::memcpy(&w2, src + 4, 4);
  std::memcpy(&w3, src + 8, 4);
  std::memcpy(&w4, src + 12, 4);
  std::memcpy(&w5, src + 16, 4);
  std::memcpy(&w6, src + 20, 4);
  asm("" : "+r"(w1), "+r"(w2), "+r"(w3));
  asm("" : "+r"(w4), "+r"(w5), "+r"(w6));
  r[1] = w1, r[2] = w2, r[3] = w3;
  r[4] = w4, r[5] = w5, r[6] = w6;
}

TALVEN_VM_INLINE void compare(Machine& m, std::uint32_t x, std::uint32_t y) {
  m.zf = x == y;
  m.lf = static_cast<std::int32_t>(x) < static_cast<std::int32_t>(y);
  m.bf = x < y;
}

// sub: the flags of comparing x with y, then x -= y.
TALVEN_VM_INLINE void subtract(Machine& m, std::uint32_t& x, std::uint32_t y) {
  compare(m, x, y);
  x -= y;
}

// The end of a conditional jump: to `target` when the flags take it.
TALVEN_VM_INLINE Flow jump_if(Machine& m, const TOp& op, Addr target) {
  if (mask_taken(op.mask, m.zf, m.lf, m.bf)) {
    m.pc = target;
    return Flow::kTaken;
  }
  m.pc = op.pc;
  return Flow::kFall;
}

// Hands the registers, pc and flags to the context.
TALVEN_VM_INLINE void save_state(const Machine& m, VmContext* ctx) {
  std::memcpy(ctx->r, m.r, sizeof ctx->r);
  ctx->pc = m.pc;
  ctx->zero_flag = m.zf;
  ctx->less_flag = m.lf;
  ctx->below_flag = m.bf;
}

// Calls builtin `number` (pc already past the call): false when the slice
// ends here, because the handler ended it or the context stopped. A handler
// that ends the slice may have replaced (and freed) the context, so nothing
// of it is touched afterwards.
TALVEN_VM_INLINE bool call_builtin(Machine& m, std::uint16_t number) {
  VmContext* const ctx = m.ctx;
  save_state(m, ctx);
  if (m.trap_handler(number, ctx) != 0) return false;
  std::memcpy(m.r, ctx->r, sizeof ctx->r);
  m.pc = ctx->pc;
  m.zf = ctx->zero_flag;
  m.lf = ctx->less_flag;
  m.bf = ctx->below_flag;
  if (ctx->state != kVmRunning) return false;
  m.note_host_writes();
  return true;
}

// ---- the instructions -----------------------------------------------------------
//
// One handler per row of the instruction list (script/opcodes.h) and of the
// fused ops (script/vm_translate.h), named exec_OP_<NAME> / exec_BK_<NAME>.
// It runs the op's effects in the order of its instructions and says where
// control goes (Flow); an error leaves pc just past the failing instruction
// (op.pc for a single instruction). kUnchecked is true in the handler used
// inside a checked frame window; only ops with frame slots read it.
#define TALVEN_VM_EXEC(KIND) \
  template <bool kUnchecked> \
  TALVEN_VM_INLINE Flow exec_##KIND([[maybe_unused]] Machine& m, [[maybe_unused]] const TOp& op)

// ---- moves and loads
TALVEN_VM_EXEC(OP_NOP) { return Flow::kNext; }
TALVEN_VM_EXEC(OP_TRAP) {
  m.pc = op.pc;
  if (m.trap_handler && !call_builtin(m, static_cast<std::uint16_t>(op.a))) return Flow::kGone;
  return Flow::kFallVar;
}
TALVEN_VM_EXEC(OP_XCHG) {
  const std::uint32_t v = m.r[op.d];
  m.r[op.d] = m.r[op.s];
  m.r[op.s] = v;
  return Flow::kNext;
}
TALVEN_VM_EXEC(OP_MOVL_RR) {
  m.r[op.d] = m.r[op.s];
  return Flow::kNext;
}
TALVEN_VM_EXEC(OP_MOVL_IMM) {
  m.r[op.d] = op.a;
  return Flow::kNext;
}
TALVEN_VM_EXEC(OP_MOVL_ADDR) {
  m.r[op.d] = op.a;
  return Flow::kNext;
}
TALVEN_VM_EXEC(OP_MOVBL_ABS) { return m.load<std::uint8_t>(op.a, m.r[op.d], op.pc); }
TALVEN_VM_EXEC(OP_MOVSBL_ABS) { return m.load<std::int8_t>(op.a, m.r[op.d], op.pc); }
TALVEN_VM_EXEC(OP_MOVWL_ABS) { return m.load<std::uint16_t>(op.a, m.r[op.d], op.pc); }
TALVEN_VM_EXEC(OP_MOVSWL_ABS) { return m.load<std::int16_t>(op.a, m.r[op.d], op.pc); }
TALVEN_VM_EXEC(OP_MOVL_LOAD_ABS) { return m.load<std::uint32_t>(op.a, m.r[op.d], op.pc); }
TALVEN_VM_EXEC(OP_LEA) {
  m.r[op.d] = m.frame(op.a);
  return Flow::kNext;
}
TALVEN_VM_EXEC(OP_MOVBL_FRAME) { return m.load<std::uint8_t>(m.frame(op.a), m.r[op.d], op.pc); }
TALVEN_VM_EXEC(OP_MOVSBL_FRAME) { return m.load<std::int8_t>(m.frame(op.a), m.r[op.d], op.pc); }
TALVEN_VM_EXEC(OP_MOVWL_FRAME) { return m.load<std::uint16_t>(m.frame(op.a), m.r[op.d], op.pc); }
TALVEN_VM_EXEC(OP_MOVSWL_FRAME) { return m.load<std::int16_t>(m.frame(op.a), m.r[op.d], op.pc); }
TALVEN_VM_EXEC(OP_MOVL_LOAD_FRAME) {
  return frame_load<kUnchecked>(m, m.frame(op.a), m.r[op.d], op.pc);
}
TALVEN_VM_EXEC(OP_MOVBL_IND) { return m.load<std::uint8_t>(m.r[op.s], m.r[op.d], op.pc); }
TALVEN_VM_EXEC(OP_MOVSBL_IND) { return m.load<std::int8_t>(m.r[op.s], m.r[op.d], op.pc); }
TALVEN_VM_EXEC(OP_MOVWL_IND) { return m.load<std::uint16_t>(m.r[op.s], m.r[op.d], op.pc); }
TALVEN_VM_EXEC(OP_MOVSWL_IND) { return m.load<std::int16_t>(m.r[op.s], m.r[op.d], op.pc); }
TALVEN_VM_EXEC(OP_MOVL_LOAD_IND) { return m.load<std::uint32_t>(m.r[op.s], m.r[op.d], op.pc); }

// ---- stores
template <class T>
TALVEN_VM_INLINE Flow store_and_check(Machine& m, Addr a, std::uint32_t value, Addr at_pc) {
  TRY(m.store<T>(a, value, at_pc));
  return m.code_check(a);
}
TALVEN_VM_EXEC(OP_MOVB_ABS) { return store_and_check<std::uint8_t>(m, op.a, m.r[op.s], op.pc); }
TALVEN_VM_EXEC(OP_MOVW_ABS) { return store_and_check<std::uint16_t>(m, op.a, m.r[op.s], op.pc); }
TALVEN_VM_EXEC(OP_MOVL_STORE_ABS) {
  return store_and_check<std::uint32_t>(m, op.a, m.r[op.s], op.pc);
}
TALVEN_VM_EXEC(OP_MOVB_FRAME) {
  return store_and_check<std::uint8_t>(m, m.frame(op.a), m.r[op.s], op.pc);
}
TALVEN_VM_EXEC(OP_MOVW_FRAME) {
  return store_and_check<std::uint16_t>(m, m.frame(op.a), m.r[op.s], op.pc);
}
TALVEN_VM_EXEC(OP_MOVL_STORE_FRAME) {
  const Addr a = m.frame(op.a);
  TRY(frame_store<kUnchecked>(m, a, m.r[op.s], op.pc));
  return m.code_check(a);
}
TALVEN_VM_EXEC(OP_MOVB_IND) {
  return store_and_check<std::uint8_t>(m, m.r[op.d], m.r[op.s], op.pc);
}
TALVEN_VM_EXEC(OP_MOVW_IND) {
  return store_and_check<std::uint16_t>(m, m.r[op.d], m.r[op.s], op.pc);
}
TALVEN_VM_EXEC(OP_MOVL_STORE_IND) {
  return store_and_check<std::uint32_t>(m, m.r[op.d], m.r[op.s], op.pc);
}

// ---- stack, frames, calls
// The stack lies outside every program area: stack stores need no code check.
TALVEN_VM_INLINE Flow push(Machine& m, const TOp& op, std::uint32_t value_reg_or_imm, bool imm) {
  const Addr sp = m.r[kRegStack] - 4;
  if (!m.stack_ok(sp)) return m.fail(kErrStackOverflow, op.pc);
  m.r[kRegStack] = sp;
  // A pushed r7 is its new value.
  return m.store<std::uint32_t>(sp, imm ? value_reg_or_imm : m.r[value_reg_or_imm], op.pc);
}
TALVEN_VM_EXEC(OP_PUSH) { return push(m, op, op.s, false); }
TALVEN_VM_EXEC(OP_PUSH_IMM) { return push(m, op, op.a, true); }
TALVEN_VM_EXEC(OP_POP) {
  const Addr sp = m.r[kRegStack] + 4;
  if (!m.stack_ok(sp)) return m.fail(kErrStackOverflow, op.pc);
  std::uint32_t v;
  TRY(m.load<std::uint32_t>(m.r[kRegStack], v, op.pc));
  m.r[kRegStack] = sp;
  m.r[op.d] = v;
  return Flow::kNext;
}
TALVEN_VM_EXEC(OP_ENTER) {
  const Addr old_sp = m.r[kRegStack];
  const Addr sp = old_sp - op.a - kFrameSaveBytes;
  if (!m.stack_ok(sp)) return m.fail(kErrStackOverflow, op.pc);
  const Addr save = old_sp - kFrameSaveBytes;
  if (!m.reachable(save, kFrameSaveBytes)) return m.bad_address(save, op.pc);
  save_frame(m.base + save, m.r);  // r1..r6
  m.r[kRegStack] = sp;
  m.r[kRegFrame] = old_sp - 4;
  return Flow::kNext;
}
// leave: the outermost frame finishes the context; `at_pc` is where the
// leave instruction ends.
TALVEN_VM_INLINE Flow leave(Machine& m, std::uint32_t bytes, Addr at_pc) {
  if (static_cast<std::uint32_t>(m.r[kRegStack] + bytes + kFrameSaveBytes - m.stack) >=
      m.stack_size) {
    m.pc = at_pc;
    return Flow::kFinished;
  }
  const Addr save = m.r[kRegStack] + bytes;
  if (!m.reachable(save, kFrameSaveBytes)) return m.bad_address(save, at_pc);
  restore_frame(m.base + save, m.r);
  m.r[kRegStack] = save + kFrameSaveBytes;
  return Flow::kNext;
}
TALVEN_VM_EXEC(OP_LEAVE) { return leave(m, op.a, op.pc); }
TALVEN_VM_EXEC(OP_CALL) {
  const Addr sp = m.r[kRegStack] - 4;
  if (!m.stack_ok(sp)) return m.fail(kErrStackOverflow, op.pc);
  m.r[kRegStack] = sp;
  TRY(m.store<std::uint32_t>(sp, op.pc, op.pc));
  m.pc = op.a;
  return Flow::kTaken;
}
TALVEN_VM_EXEC(OP_CALL_REG) {
  if (m.r[op.s] == 0) return m.fail(kErrOutOfMemory, op.pc);
  const Addr sp = m.r[kRegStack] - 4;
  if (!m.stack_ok(sp)) return m.fail(kErrStackOverflow, op.pc);
  m.r[kRegStack] = sp;
  TRY(m.store<std::uint32_t>(sp, op.pc, op.pc));
  m.pc = m.r[op.s];
  return Flow::kTakenVar;
}
// ret; `at_pc` is where the ret instruction ends.
TALVEN_VM_INLINE Flow ret(Machine& m, Addr at_pc) {
  const Addr sp = m.r[kRegStack] + 4;
  if (!m.stack_ok(sp)) return m.fail(kErrStackOverflow, at_pc);
  std::uint32_t v;
  TRY(m.load<std::uint32_t>(m.r[kRegStack], v, at_pc));
  m.r[kRegStack] = sp;
  m.pc = v;
  return v == kReturnFinish ? Flow::kFinished : Flow::kReturn;
}
TALVEN_VM_EXEC(OP_RET) { return ret(m, op.pc); }

// ---- read-modify-write
// The load checks the bytes the store writes.
TALVEN_VM_EXEC(OP_PREOP) {
  const Addr a = m.r[op.s];
  std::uint32_t v;
  TRY(m.load<std::uint32_t>(a, v, op.pc));
  v += op.a;
  TRY(m.guard(a, 4, op.pc));
  std::memcpy(m.base + a, &v, 4);
  m.r[op.d] = v;
  return m.code_check(a);
}
TALVEN_VM_EXEC(OP_POSTOP) {
  const Addr a = m.r[op.s];
  std::uint32_t v;
  TRY(m.load<std::uint32_t>(a, v, op.pc));
  m.r[op.d] = v;
  v += op.a;
  TRY(m.guard(a, 4, op.pc));
  std::memcpy(m.base + a, &v, 4);
  return m.code_check(a);
}
// ++/-- on the byte or word at rS; rD gets the new value (pre) or the old.
template <class T, int kDelta, bool kPre>
TALVEN_VM_INLINE Flow step_in_memory(Machine& m, const TOp& op) {
  const Addr a = m.r[op.s];
  T old;
  TRY(m.load<T>(a, old, op.pc));
  const T now = static_cast<T>(old + kDelta);
  TRY(m.guard(a, sizeof(T), op.pc));
  std::memcpy(m.base + a, &now, sizeof(T));
  m.r[op.d] = kPre ? now : old;
  return m.code_check(a);
}
TALVEN_VM_EXEC(OP_PREINC) { return step_in_memory<std::uint8_t, 1, true>(m, op); }
TALVEN_VM_EXEC(OP_POSTINC) { return step_in_memory<std::uint8_t, 1, false>(m, op); }
TALVEN_VM_EXEC(OP_PREDEC) { return step_in_memory<std::uint8_t, -1, true>(m, op); }
TALVEN_VM_EXEC(OP_POSTDEC) { return step_in_memory<std::uint8_t, -1, false>(m, op); }
TALVEN_VM_EXEC(OP_PREINC16) { return step_in_memory<std::uint16_t, 1, true>(m, op); }
TALVEN_VM_EXEC(OP_POSTINC16) { return step_in_memory<std::uint16_t, 1, false>(m, op); }
TALVEN_VM_EXEC(OP_PREDEC16) { return step_in_memory<std::uint16_t, -1, true>(m, op); }
TALVEN_VM_EXEC(OP_POSTDEC16) { return step_in_memory<std::uint16_t, -1, false>(m, op); }

// ---- tests and comparisons
template <class T>
TALVEN_VM_INLINE Flow test_zero(Machine& m, Addr a, Addr at_pc) {
  std::uint32_t v;
  TRY(m.load<T>(a, v, at_pc));
  m.zf = v == 0;
  return Flow::kNext;
}
TALVEN_VM_EXEC(OP_ZEROB_ABS) { return test_zero<std::uint8_t>(m, op.a, op.pc); }
TALVEN_VM_EXEC(OP_ZEROW_ABS) { return test_zero<std::uint16_t>(m, op.a, op.pc); }
TALVEN_VM_EXEC(OP_ZEROL_ABS) { return test_zero<std::uint32_t>(m, op.a, op.pc); }
TALVEN_VM_EXEC(OP_ZEROB_FRAME) { return test_zero<std::uint8_t>(m, m.frame(op.a), op.pc); }
TALVEN_VM_EXEC(OP_ZEROW_FRAME) { return test_zero<std::uint16_t>(m, m.frame(op.a), op.pc); }
TALVEN_VM_EXEC(OP_ZEROL_FRAME) { return test_zero<std::uint32_t>(m, m.frame(op.a), op.pc); }
TALVEN_VM_EXEC(OP_CMP) {
  compare(m, m.r[op.d], m.r[op.s]);
  return Flow::kNext;
}
TALVEN_VM_EXEC(OP_CMP_IMM) {
  compare(m, m.r[op.d], op.a);
  return Flow::kNext;
}
TALVEN_VM_EXEC(OP_SET) {
  m.r[op.d] = m.r[op.s] == 0;
  return Flow::kNext;
}

// ---- integer arithmetic
TALVEN_VM_EXEC(OP_ADD) {
  m.r[op.d] += m.r[op.s];
  return Flow::kNext;
}
TALVEN_VM_EXEC(OP_ADD_IMM) {
  m.r[op.d] += op.a;
  return Flow::kNext;
}
TALVEN_VM_EXEC(OP_SUB) {
  subtract(m, m.r[op.d], m.r[op.s]);
  return Flow::kNext;
}
TALVEN_VM_EXEC(OP_SUB_IMM) {
  subtract(m, m.r[op.d], op.a);
  return Flow::kNext;
}
TALVEN_VM_EXEC(OP_MUL) {
  m.r[op.d] *= m.r[op.s];
  return Flow::kNext;
}
TALVEN_VM_EXEC(OP_DIV) {
  const std::uint32_t y = m.r[op.s];
  if (y == 0) return m.fail(kErrDivideByZero, op.pc);
  // -2^31 / -1 overflows; it wraps to -2^31 instead of trapping.
  if (y == 0xFFFFFFFFu) m.r[op.d] = 0u - m.r[op.d];
  else
    m.r[op.d] = static_cast<std::uint32_t>(static_cast<std::int32_t>(m.r[op.d]) /
                                           static_cast<std::int32_t>(y));
  return Flow::kNext;
}
TALVEN_VM_EXEC(OP_MOD) {
  const std::uint32_t y = m.r[op.s];
  if (y == 0) return m.fail(kErrDivideByZero, op.pc);
  if (y == 0xFFFFFFFFu) m.r[op.d] = 0;
  else
    m.r[op.d] = static_cast<std::uint32_t>(static_cast<std::int32_t>(m.r[op.d]) %
                                           static_cast<std::int32_t>(y));
  return Flow::kNext;
}
TALVEN_VM_EXEC(OP_SHL) {
  m.r[op.d] <<= (m.r[op.s] & 31u);
  return Flow::kNext;
}
TALVEN_VM_EXEC(OP_SHR) {
  m.r[op.d] >>= (m.r[op.s] & 31u);
  return Flow::kNext;
}
TALVEN_VM_EXEC(OP_SAR) {
  m.r[op.d] = static_cast<std::uint32_t>(static_cast<std::int32_t>(m.r[op.d]) >> (m.r[op.s] & 31u));
  return Flow::kNext;
}
TALVEN_VM_EXEC(OP_NEG) {
  m.r[op.d] = 0u - m.r[op.s];
  return Flow::kNext;
}
TALVEN_VM_EXEC(OP_NOT) {
  m.r[op.d] = ~m.r[op.s];
  return Flow::kNext;
}
TALVEN_VM_EXEC(OP_AND) {
  m.r[op.d] &= m.r[op.s];
  return Flow::kNext;
}
TALVEN_VM_EXEC(OP_OR) {
  m.r[op.d] |= m.r[op.s];
  return Flow::kNext;
}
TALVEN_VM_EXEC(OP_XOR) {
  m.r[op.d] ^= m.r[op.s];
  return Flow::kNext;
}

// ---- jumps (the conditions are in TOp::mask)
TALVEN_VM_EXEC(OP_JMP) {
  m.pc = op.a;
  return Flow::kTaken;
}
TALVEN_VM_EXEC(OP_JE) { return jump_if(m, op, op.a); }
TALVEN_VM_EXEC(OP_JNE) { return jump_if(m, op, op.a); }
TALVEN_VM_EXEC(OP_JG) { return jump_if(m, op, op.a); }
TALVEN_VM_EXEC(OP_JGE) { return jump_if(m, op, op.a); }
TALVEN_VM_EXEC(OP_JL) { return jump_if(m, op, op.a); }
TALVEN_VM_EXEC(OP_JLE) { return jump_if(m, op, op.a); }
TALVEN_VM_EXEC(OP_JA) { return jump_if(m, op, op.a); }
TALVEN_VM_EXEC(OP_JAE) { return jump_if(m, op, op.a); }
TALVEN_VM_EXEC(OP_JB) { return jump_if(m, op, op.a); }
TALVEN_VM_EXEC(OP_JBE) { return jump_if(m, op, op.a); }

// ---- floats
TALVEN_VM_EXEC(OP_FTOI) {
  m.r[op.d] = float_to_int(as_float(m.r[op.s]));
  return Flow::kNext;
}
TALVEN_VM_EXEC(OP_ITOF) {
  m.r[op.d] = float_bits(static_cast<float>(static_cast<std::int32_t>(m.r[op.s])));
  return Flow::kNext;
}
TALVEN_VM_EXEC(OP_FADD) {
  m.r[op.d] = float_op(FloatOp::kAdd, m.r[op.d], m.r[op.s]);
  return Flow::kNext;
}
TALVEN_VM_EXEC(OP_FSUB) {
  const float x = as_float(m.r[op.d]), y = as_float(m.r[op.s]);
  m.zf = x == y;  // false when unordered
  m.lf = x < y;
  m.bf = false;
  m.r[op.d] = float_op(FloatOp::kSub, m.r[op.d], m.r[op.s]);
  return Flow::kNext;
}
TALVEN_VM_EXEC(OP_FMUL) {
  m.r[op.d] = float_op(FloatOp::kMul, m.r[op.d], m.r[op.s]);
  return Flow::kNext;
}
TALVEN_VM_EXEC(OP_FDIV) {
  m.r[op.d] = float_op(FloatOp::kDiv, m.r[op.d], m.r[op.s]);
  return Flow::kNext;
}
TALVEN_VM_EXEC(OP_FMOD) {
  m.r[op.d] = float_bits(static_cast<float>(std::fmod(static_cast<double>(as_float(m.r[op.d])),
                                                      static_cast<double>(as_float(m.r[op.s])))));
  return Flow::kNext;
}
TALVEN_VM_EXEC(OP_FNEG) {
  m.r[op.d] = float_bits(-as_float(m.r[op.s]));
  return Flow::kNext;
}

// ---- fused sequences
// Each has the effects of its instructions in order; an error in one of
// them leaves pc just past that instruction (op.pc minus the lengths of the
// instructions after it, as the comments count them).

// movl rA,[r6+a] (6); movl rB,[r6+b] (6); sub rB,rA (2); jcc c (5)
TALVEN_VM_EXEC(BK_LOAD2_SUB_JCC) {
  TRY(frame_load<kUnchecked>(m, m.frame(op.a), m.r[op.d], op.pc - 13));
  TRY(frame_load<kUnchecked>(m, m.frame(op.b), m.r[op.s], op.pc - 7));
  subtract(m, m.r[op.s], m.r[op.d]);
  return jump_if(m, op, op.c);
}
// movl rA,a (6); movl rB,[r6+b] (6); sub rB,rA (2); jcc c (5)
TALVEN_VM_EXEC(BK_IMM_LOAD_SUB_JCC) {
  m.r[op.d] = op.a;
  TRY(frame_load<kUnchecked>(m, m.frame(op.b), m.r[op.s], op.pc - 7));
  subtract(m, m.r[op.s], m.r[op.d]);
  return jump_if(m, op, op.c);
}
// movl rA,a (6); movl rB,[r6+b] (6); sub rB,rA (2)
TALVEN_VM_EXEC(BK_IMM_LOAD_SUB) {
  m.r[op.d] = op.a;
  TRY(frame_load<kUnchecked>(m, m.frame(op.b), m.r[op.s], op.pc - 2));
  subtract(m, m.r[op.s], m.r[op.d]);
  return Flow::kNext;
}
// movl rA,[r6+a] (6); movl rB,[r6+b] (6); add rB,rA (2)
TALVEN_VM_EXEC(BK_LOAD2_ADD) {
  TRY(frame_load<kUnchecked>(m, m.frame(op.a), m.r[op.d], op.pc - 8));
  TRY(frame_load<kUnchecked>(m, m.frame(op.b), m.r[op.s], op.pc - 2));
  m.r[op.s] += m.r[op.d];
  return Flow::kNext;
}
// movl rA,[r6+a] (6); add rB,rA (2)
TALVEN_VM_EXEC(BK_LOAD_ADD) {
  TRY(frame_load<kUnchecked>(m, m.frame(op.a), m.r[op.d], op.pc - 2));
  m.r[op.s] += m.r[op.d];
  return Flow::kNext;
}
// lea rA,[r6+a]; postop rD2,[rA],b. The load checks the bytes the store
// writes; the store is guard-checked like postop's own (the slot may be a
// local array's element).
TALVEN_VM_EXEC(BK_LEA_POSTOP) {
  const Addr a = m.frame(op.a);
  m.r[op.d] = a;
  std::uint32_t v;
  TRY(frame_load<kUnchecked>(m, a, v, op.pc));
  m.r[op.d2] = v;
  v += op.b;
  TRY(m.guard(a, 4, op.pc));
  std::memcpy(m.base + a, &v, 4);
  return m.code_check(a);
}
// movl rA,a; movl [r6+b],rA
TALVEN_VM_EXEC(BK_IMM_STORE) {
  m.r[op.d] = op.a;
  const Addr a = m.frame(op.b);
  TRY(frame_store<kUnchecked>(m, a, m.r[op.d], op.pc));
  return m.code_check(a);
}
// call W (5); W: trap n (3); ret (1), with the pc and stack of each step.
TALVEN_VM_EXEC(BK_CALL_TRAP_RET) {
  const Addr sp = m.r[kRegStack] - 4;
  if (!m.stack_ok(sp)) return m.fail(kErrStackOverflow, op.pc);
  m.r[kRegStack] = sp;
  TRY(m.store<std::uint32_t>(sp, op.pc, op.pc));
  m.pc = op.a + 3;
  if (m.trap_handler) {
    if (!call_builtin(m, static_cast<std::uint16_t>(op.b))) return Flow::kGone;
    // The handler may have moved pc or rewritten the `ret`: then the image
    // decides what runs next (the ret is not taken from the budget).
    if (m.pc != op.a + 3 || m.base[m.pc] != OP_RET) {
      m.budget += 1;
      return Flow::kRejoin;
    }
  }
  const Flow f = ret(m, op.a + 4);
  return f == Flow::kReturn ? Flow::kFallVar : f;
}
// movl rA,[r6+a] (6); movl rB,[r6+b] (6); add rB,rA (2); then one access
// through rB (2) with rX = d2.
template <bool kUnchecked>
TALVEN_VM_INLINE Flow load2_add(Machine& m, const TOp& op) {
  TRY(frame_load<kUnchecked>(m, m.frame(op.a), m.r[op.d], op.pc - 10));
  TRY(frame_load<kUnchecked>(m, m.frame(op.b), m.r[op.s], op.pc - 4));
  m.r[op.s] += m.r[op.d];
  return Flow::kNext;
}
TALVEN_VM_EXEC(BK_LOAD2_ADD_LDB) {
  TRY(load2_add<kUnchecked>(m, op));
  return m.load<std::uint8_t>(m.r[op.s], m.r[op.d2], op.pc);
}
TALVEN_VM_EXEC(BK_LOAD2_ADD_LDSB) {
  TRY(load2_add<kUnchecked>(m, op));
  return m.load<std::int8_t>(m.r[op.s], m.r[op.d2], op.pc);
}
TALVEN_VM_EXEC(BK_LOAD2_ADD_LDL) {
  TRY(load2_add<kUnchecked>(m, op));
  return m.load<std::uint32_t>(m.r[op.s], m.r[op.d2], op.pc);
}
TALVEN_VM_EXEC(BK_LOAD2_ADD_STB) {
  TRY(load2_add<kUnchecked>(m, op));
  return store_and_check<std::uint8_t>(m, m.r[op.s], m.r[op.d2], op.pc);
}
TALVEN_VM_EXEC(BK_LOAD2_ADD_STL) {
  TRY(load2_add<kUnchecked>(m, op));
  return store_and_check<std::uint32_t>(m, m.r[op.s], m.r[op.d2], op.pc);
}
// movl rA,[r6+a] (6); add rA,rB (2); movl [r6+b],rA (6)
TALVEN_VM_EXEC(BK_ACC_FRAME) {
  TRY(frame_load<kUnchecked>(m, m.frame(op.a), m.r[op.d], op.pc - 8));
  m.r[op.d] += m.r[op.s];
  const Addr a = m.frame(op.b);
  TRY(frame_store<kUnchecked>(m, a, m.r[op.d], op.pc));
  return m.code_check(a);
}
// movl rA,[r6+a] (6); add rA,rB (2)
TALVEN_VM_EXEC(BK_LOAD_ADD_DST) {
  TRY(frame_load<kUnchecked>(m, m.frame(op.a), m.r[op.d], op.pc - 2));
  m.r[op.d] += m.r[op.s];
  return Flow::kNext;
}
// movl rA,[r6+a] (6); mul rA,rB (2)
TALVEN_VM_EXEC(BK_LOAD_MUL_DST) {
  TRY(frame_load<kUnchecked>(m, m.frame(op.a), m.r[op.d], op.pc - 2));
  m.r[op.d] *= m.r[op.s];
  return Flow::kNext;
}
// movl rA,[r6+a] (6); mul rB,rA (2)
TALVEN_VM_EXEC(BK_LOAD_MUL) {
  TRY(frame_load<kUnchecked>(m, m.frame(op.a), m.r[op.d], op.pc - 2));
  m.r[op.s] *= m.r[op.d];
  return Flow::kNext;
}
// movl rA,[r6+a] (6); mul rA,rB (2); add rA,rC (2); mul rA,rD (2), step by
// step as any of the registers may be the same.
TALVEN_VM_EXEC(BK_LOAD_MUL_ADD_MUL) {
  TRY(frame_load<kUnchecked>(m, m.frame(op.a), m.r[op.d], op.pc - 6));
  m.r[op.d] *= m.r[op.s];
  m.r[op.d] += m.r[op.d2];
  m.r[op.d] *= m.r[op.c];
  return Flow::kNext;
}
// movl rA,[r6+a] (6); add rA,rB (2); movl rC,[rA] (2)
TALVEN_VM_EXEC(BK_LOAD_ADD_LDL) {
  TRY(frame_load<kUnchecked>(m, m.frame(op.a), m.r[op.d], op.pc - 4));
  m.r[op.d] += m.r[op.s];
  return m.load<std::uint32_t>(m.r[op.d], m.r[op.d2], op.pc);
}
// movl rA,[r6+a] (6); movl rB,[r6+b] (6)
TALVEN_VM_EXEC(BK_LOAD2) {
  TRY(frame_load<kUnchecked>(m, m.frame(op.a), m.r[op.d], op.pc - 6));
  return frame_load<kUnchecked>(m, m.frame(op.b), m.r[op.s], op.pc);
}
// leave a (5); ret (1)
TALVEN_VM_EXEC(BK_LEAVE_RET) {
  TRY(leave(m, op.a, op.pc - 1));
  return ret(m, op.pc);
}
TALVEN_VM_EXEC(BK_EXIT) {
  m.pc = op.pc;
  return Flow::kFall;
}
// push rP (ends op.b bytes before op.pc); xchg rD,rS; call a. When both
// words fit the stack and script memory (and no guards are checked) they
// are stored at once; otherwise step by step as the image does.
TALVEN_VM_EXEC(BK_PUSH_XCHG_CALL) {
  const Addr sp = m.r[kRegStack] - 8;
  if (m.stack_ok(sp) && m.stack_ok(sp + 4) && m.in_space(sp, 8) && !m.guarded) [[likely]] {
    std::uint32_t v = m.r[op.d2];
    std::memcpy(m.base + sp + 4, &v, 4);
    v = m.r[op.d];
    m.r[op.d] = m.r[op.s];
    m.r[op.s] = v;
    std::memcpy(m.base + sp, &op.pc, 4);
    m.r[kRegStack] = sp;
    m.pc = op.a;
    return Flow::kTaken;
  }
  const Addr push_sp = m.r[kRegStack] - 4;
  if (!m.stack_ok(push_sp)) return m.fail(kErrStackOverflow, op.pc - op.b);
  m.r[kRegStack] = push_sp;
  TRY(m.store<std::uint32_t>(push_sp, m.r[op.d2], op.pc - op.b));
  const std::uint32_t v = m.r[op.d];
  m.r[op.d] = m.r[op.s];
  m.r[op.s] = v;
  return exec_OP_CALL<kUnchecked>(m, op);  // the call of the same op (its pc and target)
}
// movl rX,imm; movl rA,[r6+a] (6); movl rB,[r6+b] (6)
TALVEN_VM_EXEC(BK_IMM_LOAD2) {
  m.r[op.d2] = op.c;
  TRY(frame_load<kUnchecked>(m, m.frame(op.a), m.r[op.d], op.pc - 6));
  return frame_load<kUnchecked>(m, m.frame(op.b), m.r[op.s], op.pc);
}

#undef TRY
#undef TALVEN_VM_EXEC

// ---- pieces of the dispatch loop --------------------------------------------------

// The state of a new slice: the context's registers (into `ns`, where
// machine code finds them), pc, flags and the limits.
TALVEN_VM_INLINE Machine open_slice(VmContext* ctx, NativeState& ns) {
  AddressSpace& space = script_space();
  Machine m{};
  m.r = ns.r;
  std::memcpy(m.r, ctx->r, sizeof ns.r);
  m.base = space.base();
  m.space = &space;
  m.hi = space.limit() - kLowLimit;
  m.pc = ctx->pc;
  m.budget = kSliceLength;
  m.zf = ctx->zero_flag;
  m.lf = ctx->less_flag;
  m.bf = ctx->below_flag;
  m.guarded = space.guards_enabled();
  m.stack = ctx->stack;
  m.stack_size = ctx->stack_size;
  m.error = kErrInvalidCode;
  m.ctx = ctx;
  m.trap_handler = vm_trap_handler();
  // The pre-decoded blocks of this program area. A new slice may follow
  // writes by other threads and the host, so every block is checked against
  // the image again before its first run in the slice.
  m.tr = TALVEN_VM_COMPUTED_GOTO ? translation_for(ctx->program, ctx->program_size) : nullptr;
  m.epoch = space.code_epoch();
  if (m.tr) {
    ++m.tr->stamp;
    m.refresh_hull();
  }
  ns.base = m.base;
  ns.stack = m.stack;
  ns.stack_size = m.stack_size;
  ns.stack_room4 = m.stack_size >= 4 ? m.stack_size - 3 : 0;
  return m;
}

// Decodes the instruction at pc from the image into `op`, a block of one op
// with the same fields the translator gives it. The fast path reads the
// longest instruction's bytes at once; near the end of committed memory the
// exact length is checked.
TALVEN_VM_INLINE Flow decode_step(Machine& m, TOp& op, const void* const* handlers) {
  Insn insn;
  bool valid;
  if (m.in_space(m.pc, 6)) [[likely]] {
    valid = decode_instruction6(m.base + m.pc, insn);
  } else {
    if (!m.reachable(m.pc, 1)) return m.bad_address(m.pc, m.pc);
    if (!m.reachable(m.pc, op_length(m.base[m.pc]))) return m.bad_address(m.pc, m.pc);
    valid = decode_instruction(m.base + m.pc, 6, insn);
  }
  if (!valid) [[unlikely]] {
    // pc goes past the invalid instruction (one byte for a bad opcode).
    const std::uint8_t code = m.base[m.pc];
    return m.fail(kErrInvalidCode, m.pc + static_cast<Addr>(op_length(code)));
  }
  set_single_op(op, insn);
  op.pc = m.pc + insn.length;
  op.handler = handlers[op.kind];
  return Flow::kNext;
}

// Runs machine code from block `blk` on, through linked blocks, until it
// needs the interpreter; the exit says how the interpreter goes on.
TALVEN_VM_INLINE std::uint32_t run_machine_code(Machine& m, NativeState& ns, Block*& blk) {
  ns.budget = m.budget;
  ns.stamp = m.tr->stamp;
  ns.code_lo = m.code_lo;
  ns.code_span = m.code_span;
  ns.hi = m.hi;
  ns.hi1 = m.hi - 1;  // as signed numbers: below 0 nothing fits
  ns.hi2 = m.hi - 2;
  ns.hi4 = m.hi - 4;
  ns.hi24 = m.hi - kFrameSaveBytes;
  ns.zf = m.zf;
  ns.lf = m.lf;
  ns.bf = m.bf;
  native_run(&ns, blk->native);
  m.budget = ns.budget;
  m.zf = ns.zf;
  m.lf = ns.lf;
  m.bf = ns.bf;
  m.pc = ns.pc;
  blk = ns.blk;
  return ns.exit;
}

// Whether the slice that just spent its budget is followed at once by the
// next one (the slice hook allows it and nothing stopped the scripts).
// `stop` is the stop flag's word, found once per run.
TALVEN_VM_INLINE bool next_slice_follows(const Machine& m, SliceHook hook,
                                         std::atomic_ref<std::uint32_t> stop) {
  return m.budget == 0 && m.ctx->state == kVmRunning && hook &&
         stop.load(std::memory_order_relaxed) == 0 && hook(m.ctx);
}

// Raises the error a slice stopped with (the state already handed back).
[[gnu::cold]] void raise_error(VmContext* ctx, Flow why, VmError error, Addr bad,
                               std::uint32_t bad_len) {
  if (why == Flow::kBadAddress) {
    vm_raise(ctx, kErrInvalidAddress, bad);
  } else if (why == Flow::kGuardFault) {
    // pc and the frame register handed back are the failing store's.
    const std::optional<std::string> overrun =
        array_store_fault(ctx->pc, bad, bad_len, ctx->r[kRegFrame]);
    vm_raise_guard(ctx, bad, overrun ? *overrun : script_space().describe_guard_hit(bad, bad_len));
  } else {
    vm_raise(ctx, error);
  }
}

// The handler tables. With computed goto a handler is the address of its
// label; the switch build numbers them instead (kind, kind + BK_COUNT for
// the unchecked forms, then the two ops of the loop itself).
[[maybe_unused]] constexpr std::uintptr_t kUncheckedBase = BK_COUNT;
[[maybe_unused]] constexpr std::uintptr_t kStepEndId = 2 * BK_COUNT;
[[maybe_unused]] constexpr std::uintptr_t kStopId = 2 * BK_COUNT + 1;

// The unchecked handler of each kind: the checked one, replaced for the
// kinds with frame slots.
struct UncheckedTable {
  struct Form {
    std::uint8_t kind;
    const void* handler;
  };
  const void* at[BK_COUNT];
  template <std::size_t N>
  UncheckedTable(const void* const (&checked)[BK_COUNT], const Form (&forms)[N]) {
    std::memcpy(at, checked, sizeof at);
    for (const Form& f : forms) at[f.kind] = f.handler;
  }
};

}  // namespace

// ---- the dispatch loop ------------------------------------------------------------
//
// Every op, single instruction or fused, runs through its handler label,
// generated from the lists: the label calls exec_<KIND> and follows the
// Flow it returns. Code inside the program area runs as blocks; anything
// else (code elsewhere, code that cannot be decoded, the rest of a slice
// that ends inside a block, every instruction when translation is off) is
// decoded from the image one instruction at a time into a block of one op
// (step_ops) and run by the same handlers.

#if TALVEN_VM_COMPUTED_GOTO
#define TALVEN_VM_LABEL(label, id) \
  label:
#define TALVEN_VM_REF(label, id) (&&label)
#define TALVEN_VM_DISPATCH() goto * op->handler
#else
#define TALVEN_VM_LABEL(label, id) case (id):
#define TALVEN_VM_REF(label, id) reinterpret_cast<const void*>(static_cast<std::uintptr_t>(id))
#define TALVEN_VM_DISPATCH() \
  do { \
    handler_id = reinterpret_cast<std::uintptr_t>(op->handler); \
    goto dispatch_switch; \
  } while (0)
#endif

// Leaves the block for pc through its successor link `link`: at once when
// pc is the link's fixed address, checked when pc varies.
#define TALVEN_VM_GO(link) \
  do { \
    slot = &blk->link; \
    nb = *slot; \
    if (m.budget == 0) goto leave_slice; \
    if (nb) { \
      blk = nb; \
      goto enter_block; \
    } \
    goto chain; \
  } while (0)
#define TALVEN_VM_GO_VAR(link) \
  do { \
    slot = &blk->link; \
    nb = *slot; \
    goto chain; \
  } while (0)

// Where control goes after a handler.
#define TALVEN_VM_FOLLOW(flow) \
  { \
    const Flow flow_ = (flow); \
    switch (flow_) { \
      case Flow::kNext: ++op; TALVEN_VM_DISPATCH(); \
      case Flow::kTaken: TALVEN_VM_GO(taken); \
      case Flow::kFall: TALVEN_VM_GO(fall); \
      case Flow::kTakenVar: TALVEN_VM_GO_VAR(taken); \
      case Flow::kFallVar: TALVEN_VM_GO_VAR(fall); \
      case Flow::kReturn: goto go_return; \
      case Flow::kRejoin: goto rejoin; \
      case Flow::kFinished: goto finished; \
      case Flow::kCodeWritten: goto code_written; \
      case Flow::kGone: return 1; \
      case Flow::kError: \
      case Flow::kBadAddress: \
      case Flow::kGuardFault: why = flow_; goto error_exit; \
    } \
    __builtin_unreachable(); \
  }

#define TALVEN_VM_RUN_OP(NAME, ...) \
  TALVEN_VM_LABEL(H_OP_##NAME, OP_##NAME) TALVEN_VM_FOLLOW(exec_OP_##NAME<false>(m, *op));
#define TALVEN_VM_RUN_BK(NAME, ...) \
  TALVEN_VM_LABEL(H_BK_##NAME, BK_##NAME) TALVEN_VM_FOLLOW(exec_BK_##NAME<false>(m, *op));
// The unchecked forms: every row of TALVEN_UNCHECKED_OPCODES and the fused
// rows with frame slots.
#define TALVEN_VM_IF_SLOTS_None(...)
#define TALVEN_VM_IF_SLOTS_A(...) __VA_ARGS__
#define TALVEN_VM_IF_SLOTS_B(...) __VA_ARGS__
#define TALVEN_VM_IF_SLOTS_AB(...) __VA_ARGS__
#define TALVEN_VM_RUN_OP_UNCHECKED(NAME, slots) \
  TALVEN_VM_LABEL(U_OP_##NAME, kUncheckedBase + OP_##NAME) \
  TALVEN_VM_FOLLOW(exec_OP_##NAME<true>(m, *op));
#define TALVEN_VM_RUN_BK_UNCHECKED(NAME, slots) \
  TALVEN_VM_IF_SLOTS_##slots(TALVEN_VM_LABEL(U_BK_##NAME, kUncheckedBase + BK_##NAME) \
                                 TALVEN_VM_FOLLOW(exec_BK_##NAME<true>(m, *op));)
#define TALVEN_VM_REF_OP(NAME, ...) TALVEN_VM_REF(H_OP_##NAME, OP_##NAME),
#define TALVEN_VM_REF_BK(NAME, ...) TALVEN_VM_REF(H_BK_##NAME, BK_##NAME),
#define TALVEN_VM_FORM_OP(NAME, slots) \
  {OP_##NAME, TALVEN_VM_REF(U_OP_##NAME, kUncheckedBase + OP_##NAME)},
#define TALVEN_VM_FORM_BK(NAME, slots) \
  TALVEN_VM_IF_SLOTS_##slots({BK_##NAME, TALVEN_VM_REF(U_BK_##NAME, kUncheckedBase + BK_##NAME)}, )

namespace {

// Runs slices of the context as vm_run says; the state lives in `m`.
int run_slices(VmContext* const ctx) {
  static const void* const kChecked[] = {TALVEN_OPCODES(TALVEN_VM_REF_OP)
                                             TALVEN_BLOCK_OPS(TALVEN_VM_REF_BK)};
  static_assert(sizeof kChecked / sizeof kChecked[0] == BK_COUNT);
  static const UncheckedTable::Form kForms[] = {TALVEN_UNCHECKED_OPCODES(TALVEN_VM_FORM_OP)
                                                    TALVEN_BLOCK_OPS(TALVEN_VM_FORM_BK)};
  static const UncheckedTable kUnchecked(kChecked, kForms);

  const SliceHook slice_hook = g_slice_hook.load(std::memory_order_acquire);
  const std::atomic_ref<std::uint32_t> stop(*vm_stop_flag.word());
  NativeState ns;
  Machine m = open_slice(ctx, ns);
  Translation* const tr = m.tr;
  bool stepping = tr == nullptr;  // true: execute from the image only
  // Machine code runs the blocks it can (not with guard checking, whose
  // tests it does not make).
  const bool native_on = tr && !m.guarded && native_available();
  Block* blk = nullptr;    // the block running
  Block* nb = nullptr;     // the block to run next, when known
  Block** slot = nullptr;  // the successor link that leads to it
  const TOp* op = nullptr;
  TOp* stop_op = nullptr;  // an op whose handler ends a partly run block
  const void* stop_saved = nullptr;
  Block step_blk;   // a stepped instruction's block: no successors kept
  TOp step_ops[2];  // the stepped instruction, then the end of its block
  step_ops[1].handler = TALVEN_VM_REF(H_STEP_END, kStepEndId);
  Flow why = Flow::kError;       // of an error exit
  std::uint32_t tail_first = 0;  // the block's instruction where a slice's tail starts
#if !TALVEN_VM_COMPUTED_GOTO
  std::uintptr_t handler_id = 0;
#endif

  if (!stepping) goto block_dispatch;

fetch:
  // One instruction from the image, as a block of one op.
  why = decode_step(m, step_ops[0], kChecked);
  if (why != Flow::kNext) goto error_exit;
  --m.budget;
  step_blk.taken = step_blk.fall = nullptr;
  blk = &step_blk;
  op = step_ops;
  TALVEN_VM_DISPATCH();

next_instruction:
  // After a stepped instruction: the slice budget, then the image again or
  // blocks.
  if (m.budget == 0) goto leave_slice;
  if (stepping) goto fetch;
block_dispatch:
  if (static_cast<std::uint32_t>(m.pc - tr->program) >= tr->size) goto fetch;
  blk = find_block(*tr, m.pc);
  if (!blk) {
    blk = translate_block(*tr, m.base, m.pc, kChecked, kUnchecked.at);
    if (!blk) goto fetch;
    m.refresh_hull();
  }
  if (blk->count == 0) goto fetch;
enter_block:
  // A block runs from its first op to its last without per-instruction
  // bookkeeping: its instruction count is taken from the slice budget when
  // it is entered, and pc is written only when control leaves the block or
  // an error is raised, each op knowing the address just past its
  // instructions. blk->count is not 0 here: such blocks are never cached as
  // successors.
  if (blk->stamp != tr->stamp) {
    if (!block_matches(*blk, m.base)) {
      translate_block(*tr, m.base, blk->start, kChecked, kUnchecked.at, blk);
      m.refresh_hull();
      if (blk->count == 0) goto fetch;
    }
    blk->stamp = tr->stamp;
  }
  if (native_on) {
    if (!blk->native_tried) {
      blk->native_tried = true;
      blk->native = native_compile(*tr, *blk);
    }
    if (blk->native && blk->count <= m.budget) goto run_native;
  }
  // The frame slots the block's unchecked ops reach, from r6 as it is now.
  // Not there: the rest of the slice runs from the image, which reports the
  // bad access where it happens.
  if (blk->frame_len && !m.reachable(m.frame(static_cast<Addr>(blk->frame_lo)), blk->frame_len)) {
    stepping = true;
    goto fetch;
  }
  if (blk->count > m.budget) {
    // The slice ends inside the block: the ops that fit run, the op after
    // them ends the block (the stop handler), and the rest of the slice runs
    // one instruction at a time (run_singles). Op k covers the block's
    // first count - rest[k] instructions; op_of says which op holds the
    // first instruction that does not fit.
    const std::size_t j = blk->op_of[m.budget];
    stepping = true;
    if (j == 0) {
      tail_first = 0;
      goto run_singles;
    }
    stop_op = &blk->ops[j];
    stop_saved = stop_op->handler;
    stop_op->handler = TALVEN_VM_REF(H_STOP, kStopId);
    m.budget -= blk->count - blk->ops[j - 1].rest;
    op = blk->ops.data();
    TALVEN_VM_DISPATCH();
  }
  m.budget -= blk->count;
  op = blk->ops.data();
  TALVEN_VM_DISPATCH();

run_native:
  switch (run_machine_code(m, ns, blk)) {
    case kNativeTaken: TALVEN_VM_GO_VAR(taken);
    case kNativeFall: TALVEN_VM_GO_VAR(fall);
    case kNativeReturn: goto go_return;
    case kNativeEnter:
      if (m.budget == 0) goto leave_slice;
      goto enter_block;
    case kNativeStep:
      // That one instruction from the image, then blocks again.
      goto fetch;
    case kNativeTrapCall:
      // The block's own builtin-call op (its instructions are already taken
      // from the budget).
      op = &blk->ops.back();
      TALVEN_VM_DISPATCH();
    default: stepping = true; goto fetch;
  }

go_return:
  // Leaving a block that ends in a return: its two most recent successors
  // are kept in `taken` and `fall` (a function called from two places
  // returns to either), the one just used in `taken`.
  nb = blk->taken;
  if (nb && nb->start != m.pc) {
    Block* const other = blk->fall;
    blk->fall = nb;
    blk->taken = other;
    nb = other;
  }
  slot = &blk->taken;
  goto chain;

rejoin:
  nb = nullptr;
  slot = &blk->fall;
chain:
  // pc is the next instruction; nb the cached block for it, if any.
  if (m.budget == 0) goto leave_slice;
  if (nb && nb->start == m.pc) {
    blk = nb;
    goto enter_block;
  }
  if (stepping) goto fetch;
  if (static_cast<std::uint32_t>(m.pc - tr->program) >= tr->size) goto fetch;
  nb = find_block(*tr, m.pc);
  if (!nb) {
    nb = translate_block(*tr, m.base, m.pc, kChecked, kUnchecked.at);
    if (!nb) goto fetch;
    m.refresh_hull();
  }
  if (nb->count == 0) goto fetch;
  *slot = nb;
  blk = nb;
  goto enter_block;

code_written:
  // A store changed translated bytes: the blocks are checked again, and
  // execution goes on from the image's current contents.
  ++tr->stamp;
  m.pc = op->pc;
  m.budget += op->rest;
  if (stop_op) {
    m.budget -= (stop_op - 1)->rest;
    stop_op->handler = stop_saved;
    stop_op = nullptr;
  }
  goto next_instruction;

finished:
  ctx->state = kVmFinished;
  goto leave_slice;

#if !TALVEN_VM_COMPUTED_GOTO
dispatch_switch:
  switch (handler_id) {
#endif
    TALVEN_OPCODES(TALVEN_VM_RUN_OP)
    TALVEN_BLOCK_OPS(TALVEN_VM_RUN_BK)
    TALVEN_UNCHECKED_OPCODES(TALVEN_VM_RUN_OP_UNCHECKED)
    TALVEN_BLOCK_OPS(TALVEN_VM_RUN_BK_UNCHECKED)
    TALVEN_VM_LABEL(H_STEP_END, kStepEndId)
    m.pc = step_ops[0].pc;
    goto next_instruction;
    TALVEN_VM_LABEL(H_STOP, kStopId)
    // The op after the last one that fits the slice: the block ends here.
    // What is left of the slice is the start of this op's instructions:
    // they run one by one, from the block's single ops when none of them
    // changes pc, else from the image.
    stop_op->handler = stop_saved;
    stop_op = nullptr;
    m.pc = (op - 1)->pc;
    if (m.budget == 0) goto leave_slice;
    tail_first = blk->count - (op - 1)->rest;
  run_singles:
    // m.pc is the block's instruction tail_first, m.budget less than the
    // instructions of the op it begins.
    if (blk->singles.empty() && !prepare_singles(*blk, kChecked)) goto fetch;
    if (!singles_run(*blk, tail_first, m.budget)) goto fetch;
    op = &blk->singles[tail_first];
    stop_op = &blk->singles[tail_first + m.budget];
    stop_saved = stop_op->handler;
    stop_op->handler = TALVEN_VM_REF(H_STOP, kStopId);
    m.budget = 0;
    step_blk.taken = step_blk.fall = nullptr;
    blk = &step_blk;
    TALVEN_VM_DISPATCH();
#if !TALVEN_VM_COMPUTED_GOTO
    default: __builtin_unreachable();
  }
#endif

error_exit:
  // Every way out of the slice first hands the registers, pc and flags back
  // to the context (and puts back a handler borrowed to stop a block early).
  if (stop_op) stop_op->handler = stop_saved;
  save_state(m, ctx);
  raise_error(ctx, why, m.error, m.bad, m.bad_len);
  return 1;

leave_slice:
  if (stop_op) {
    stop_op->handler = stop_saved;
    stop_op = nullptr;
  }
  if (next_slice_follows(m, slice_hook, stop)) {
    // The next slice, without leaving: only this context wants to run, so
    // no other script thread can have written code in between.
    m.budget = kSliceLength;
    stepping = tr == nullptr;
    m.note_host_writes();
    if (stepping) goto fetch;
    goto block_dispatch;
  }
  save_state(m, ctx);
  return 1;
}

}  // namespace

#undef TALVEN_VM_LABEL
#undef TALVEN_VM_REF
#undef TALVEN_VM_DISPATCH
#undef TALVEN_VM_GO
#undef TALVEN_VM_GO_VAR
#undef TALVEN_VM_FOLLOW
#undef TALVEN_VM_RUN_OP
#undef TALVEN_VM_RUN_BK
#undef TALVEN_VM_IF_SLOTS_None
#undef TALVEN_VM_IF_SLOTS_A
#undef TALVEN_VM_IF_SLOTS_B
#undef TALVEN_VM_IF_SLOTS_AB
#undef TALVEN_VM_RUN_OP_UNCHECKED
#undef TALVEN_VM_RUN_BK_UNCHECKED
#undef TALVEN_VM_REF_OP
#undef TALVEN_VM_REF_BK
#undef TALVEN_VM_FORM_OP
#undef TALVEN_VM_FORM_BK
#undef TALVEN_VM_INLINE

int vm_run(VmContext* ctx) {
  if (!ctx) return 1;
  if (vm_stop_flag.is_set() || ctx->state != kVmRunning) return 1;
  return run_slices(ctx);
}

}  // namespace talven::script
