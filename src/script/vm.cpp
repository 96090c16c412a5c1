// The script interpreter: context lifetime and the dispatch loop.
//
// vm_run keeps the registers, flags and pc in locals for the length of a
// slice and writes them back whenever control leaves the loop (end of slice,
// error, finish, trap). Code inside the context's program area runs as
// pre-decoded blocks (script/vm_translate.h); code elsewhere, code that
// cannot be decoded and the tail of a slice that ends inside a block run
// from the image, one instruction at a time, with the same handlers'
// semantics. Script memory is reached through the address space
// base kept in a local; every access is range-checked against the space's
// committed limit with one compare, and re-checked against a fresh limit
// before it is declared invalid (the limit only grows).
#include "script/vm.h"

#include <atomic>
#include <cmath>
#include <cstring>
#include <new>

#include "base/messages.h"
#include "script/compiler.h"
#include "script/line_table.h"
#include "script/opcodes.h"
#include "script/vm_native.h"
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

inline std::uint32_t rd32(const std::uint8_t* p) {
  std::uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
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
  const auto nan = [](std::uint32_t b) { return (b & 0x7F800000u) == 0x7F800000u && (b & 0x007FFFFFu) != 0; };
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
  static constexpr const char* kGlosses[] = {
      "integer division by zero", "call through a null function address", "stack overflow",
      "invalid instruction", "memory access outside script memory"};
  std::string text = error == kErrInvalidAddress ? format_message("Invalid address error - 0x%08X", address)
                                                 : std::string(vm_error_message(error));
  const char* gloss = error >= 0 && error <= kErrInvalidAddress ? kGlosses[error] : kGlosses[kErrInvalidCode];
  report_message_detailed(1, text, runtime_error_report(text, gloss, context, context ? context->pc : 0));
}

void vm_raise_guard(VmContext* context, Addr address, const std::string& what) {
  if (context) context->state = kVmError;
  vm_stop_flag.set();
  const std::string text = format_message("Invalid address error - 0x%08X", address);
  report_message_detailed(1, text, runtime_error_report(text, what, context, context ? context->pc : 0));
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

// ---- the dispatch loop ------------------------------------------------------

int vm_run(VmContext* ctx) {
  if (!ctx) return 1;
  std::atomic_ref<std::uint32_t> stop(*vm_stop_flag.word());
  if (stop.load(std::memory_order_relaxed) || ctx->state != kVmRunning) return 1;

  const TrapHandler trap_handler = vm_trap_handler();
  const SliceHook slice_hook = g_slice_hook.load(std::memory_order_acquire);
  AddressSpace& space = script_space();
  std::uint8_t* const base = space.base();
  // Offsets below kLowLimit wrap to huge values, so one compare against
  // hi = limit - kLowLimit tests both ends of a range.
  std::uint64_t hi = space.limit() - kLowLimit;
  // Guard checking (DebugMode): every store outside the frame is tested
  // against the guard zones and freed memory.
  const bool guarded = space.guards_enabled();

  // The registers live in the state handed to machine code.
  NativeState ns;
  std::uint32_t (&r)[kRegisterCount] = ns.r;
  std::memcpy(r, ctx->r, sizeof r);
  Addr pc = ctx->pc;
  bool zf = ctx->zero_flag, lf = ctx->less_flag, bf = ctx->below_flag;
  const Addr stack = ctx->stack;
  const std::uint32_t stack_size = ctx->stack_size;
  unsigned budget = kSliceLength;

  // The pre-decoded blocks of this program area. A new slice may follow
  // writes by other threads and the host, so every block is checked against
  // the image again before its first run in the slice. code_lo/code_span
  // bound the translated bytes: a store there may change code.
  Translation* const tr =
      TALVEN_VM_COMPUTED_GOTO ? translation_for(ctx->program, ctx->program_size) : nullptr;
  Addr code_lo = 0;
  std::uint32_t code_span = 0;
  bool stepping = tr == nullptr;  // true: execute from the image only
  [[maybe_unused]] Block* blk = nullptr;
  [[maybe_unused]] Block* nb = nullptr;
  [[maybe_unused]] Block** slot = nullptr;
  [[maybe_unused]] const TOp* op = nullptr;
  TOp* stop_op = nullptr;  // an op whose handler ends a partly run block
  const void* stop_saved = nullptr;
  // Machine code runs the blocks it can (not with guard checking, whose
  // tests it does not make).
  const bool native_on = tr && !guarded && native_available();
  ns.base = base;
  ns.stack = stack;
  ns.stack_size = stack_size;
  ns.stack_room4 = stack_size >= 4 ? stack_size - 3 : 0;
  // Host writes into translated code (builtins, devices) advance the code
  // epoch; it is read again after each builtin call and between slices, and
  // blocks are compared with the image again when it moved.
  std::uint32_t epoch = space.code_epoch();
#define NOTE_HOST_WRITES                          \
  do {                                            \
    const std::uint32_t e_ = space.code_epoch();  \
    if (tr && e_ != epoch) {                      \
      epoch = e_;                                 \
      ++tr->stamp;                                \
    }                                             \
  } while (0)
  if (tr) {
    ++tr->stamp;
    if (tr->hi > tr->lo) {
      code_lo = tr->lo;
      code_span = tr->hi - tr->lo;
      space.watch_code(tr->lo, tr->hi);
    }
  }

  // Scratch shared by the handlers (declared here so that no jump crosses an
  // initialisation).
  const std::uint8_t* ip = nullptr;
  std::uint8_t rb = 0;
  unsigned d = 0, s = 0;
  std::uint32_t imm = 0, v = 0, a = 0, nsp = 0;
  Addr bad = 0;
  std::uint32_t bad_len = 0;
  VmError error = kErrInvalidCode;

// r1..r6 into the frame save area, one word at a time: the registers were
// just written one word at a time, and a wider read of them would wait for
// those stores to reach the cache instead of taking them from the store
// buffer.
#define SAVE_FRAME(dst)                          \
  do {                                           \
    std::uint8_t* const d_ = (dst);              \
    std::uint32_t w1_ = r[1], w2_ = r[2], w3_ = r[3]; \
    std::uint32_t w4_ = r[4], w5_ = r[5], w6_ = r[6]; \
    asm("" : "+r"(w1_), "+r"(w2_), "+r"(w3_));   \
    asm("" : "+r"(w4_), "+r"(w5_), "+r"(w6_));   \
    std::memcpy(d_, &w1_, 4);                    \
    std::memcpy(d_ + 4, &w2_, 4);                \
    std::memcpy(d_ + 8, &w3_, 4);                \
    std::memcpy(d_ + 12, &w4_, 4);               \
    std::memcpy(d_ + 16, &w5_, 4);               \
    std::memcpy(d_ + 20, &w6_, 4);               \
  } while (0)
// r1..r6 back from the frame save area, one word at a time for the same
// reason: enter may have stored those words only a few operations ago.
#define RESTORE_FRAME(src)                                 \
  do {                                                     \
    const std::uint8_t* const s_ = (src);                  \
    std::uint32_t w1_, w2_, w3_, w4_, w5_, w6_;            \
    std::memcpy(&w1_, s_, 4);                              \
    std::memcpy(&w2_, s_ + 4, 4);                          \
    std::memcpy(&w3_, s_ + 8, 4);                          \
    std::memcpy(&w4_, s_ + 12, 4);                         \
    std::memcpy(&w5_, s_ + 16, 4);                         \
    std::memcpy(&w6_, s_ + 20, 4);                         \
    asm("" : "+r"(w1_), "+r"(w2_), "+r"(w3_));             \
    asm("" : "+r"(w4_), "+r"(w5_), "+r"(w6_));             \
    r[1] = w1_, r[2] = w2_, r[3] = w3_;                    \
    r[4] = w4_, r[5] = w5_, r[6] = w6_;                    \
  } while (0)
#define IN_SPACE(addr, len) \
  (static_cast<std::uint64_t>(static_cast<std::uint32_t>((addr) - kLowLimit)) + (len) <= hi)
#define CHECK(addr, len)                                                        \
  do {                                                                          \
    if (!IN_SPACE(addr, len)) {                                                 \
      hi = space.limit() - kLowLimit;                                           \
      if (!IN_SPACE(addr, len)) {                                               \
        bad = (addr);                                                           \
        goto invalid_address;                                                   \
      }                                                                         \
    }                                                                           \
  } while (0)
#define LOAD(T, addr, out)                     \
  do {                                         \
    const Addr at_ = (addr);                   \
    CHECK(at_, sizeof(T));                     \
    T val_;                                    \
    std::memcpy(&val_, base + at_, sizeof(T)); \
    out = val_;                                \
  } while (0)
#define GUARD(addr, len)                                                \
  do {                                                                  \
    if (guarded && space.guard_hit(addr, len)) [[unlikely]] {           \
      bad = (addr);                                                     \
      bad_len = (len);                                                  \
      goto guard_fault;                                                 \
    }                                                                   \
  } while (0)
#define STORE(T, addr, value)                                          \
  do {                                                                 \
    const Addr at_ = (addr);                                           \
    CHECK(at_, sizeof(T));                                             \
    GUARD(at_, sizeof(T));                                             \
    const T val_ = static_cast<T>(value);                              \
    std::memcpy(base + at_, &val_, sizeof(T));                         \
    if (static_cast<std::uint32_t>(at_ - code_lo) < code_span) ++tr->stamp; \
  } while (0)
#define LOAD8(addr, out) LOAD(std::uint8_t, addr, out)
#define LOAD16(addr, out) LOAD(std::uint16_t, addr, out)
#define LOAD32(addr, out) LOAD(std::uint32_t, addr, out)
#define STORE8(addr, value) STORE(std::uint8_t, addr, value)
#define STORE16(addr, value) STORE(std::uint16_t, addr, value)
#define STORE32(addr, value) STORE(std::uint32_t, addr, value)

// Operand decoding. REGS rejects register nibbles above 7 in either half.
#define REGS                                \
  do {                                      \
    rb = ip[1];                             \
    if (rb & kRegByteInvalidMask) goto invalid_code; \
    d = rb & 7u;                            \
    s = rb >> 4;                            \
  } while (0)
#define IMM1 (imm = rd32(ip + 1))
#define IMM2 (imm = rd32(ip + 2))
// The stack check: the new r7 must lie in [stack, stack + stack_size).
#define STACK_OK(sp) (static_cast<std::uint32_t>((sp) - stack) < stack_size)
#define FAIL(e)   \
  do {            \
    error = (e);  \
    goto runtime_error; \
  } while (0)

#if TALVEN_VM_COMPUTED_GOTO
#define CASE(op) L_##op:
#define DISPATCH(opbyte) goto *kLabels[opbyte]
#else
  std::uint8_t opcode = 0;
#define CASE(op) case op:
#define DISPATCH(opbyte) \
  do {                   \
    opcode = (opbyte);   \
    goto dispatch_switch; \
  } while (0)
#endif

// After each instruction: the slice budget, then fetch. The stop flag is
// read when a slice starts: a stop set by another thread takes effect within
// one slice, and this thread's own stops (errors, traps) leave the loop
// directly. The fast path of the fetch checks the longest instruction's
// bytes at once; near the end of committed memory the slow path checks the
// exact length.
#define NEXT                                                 \
  do {                                                       \
    if (--budget == 0) goto leave_slice;                     \
    if (stepping) goto fetch;                                \
    goto block_dispatch;                                     \
  } while (0)

#if TALVEN_VM_COMPUTED_GOTO
#define L4(x) x, x, x, x
#define L16(x) L4(x), L4(x), L4(x), L4(x)
  static const void* const kLabels[256] = {
      &&L_OP_NOP, &&L_OP_TRAP, &&L_OP_XCHG, &&L_OP_MOVL_RR, &&L_OP_MOVL_IMM,
      &&L_OP_MOVL_ADDR, &&L_OP_MOVBL_ABS, &&L_OP_MOVSBL_ABS, &&L_OP_MOVWL_ABS,
      &&L_OP_MOVSWL_ABS, &&L_OP_MOVL_LOAD_ABS, &&L_OP_LEA, &&L_OP_MOVBL_FRAME,
      &&L_OP_MOVSBL_FRAME, &&L_OP_MOVWL_FRAME, &&L_OP_MOVSWL_FRAME,
      &&L_OP_MOVL_LOAD_FRAME, &&L_OP_MOVBL_IND, &&L_OP_MOVSBL_IND, &&L_OP_MOVWL_IND,
      &&L_OP_MOVSWL_IND, &&L_OP_MOVL_LOAD_IND, &&L_OP_MOVB_ABS, &&L_OP_MOVW_ABS,
      &&L_OP_MOVL_STORE_ABS, &&L_OP_MOVB_FRAME, &&L_OP_MOVW_FRAME,
      &&L_OP_MOVL_STORE_FRAME, &&L_OP_MOVB_IND, &&L_OP_MOVW_IND,
      &&L_OP_MOVL_STORE_IND, &&L_OP_PUSH, &&L_OP_PUSH_IMM, &&L_OP_POP, &&L_OP_ENTER,
      &&L_OP_LEAVE, &&L_OP_CALL, &&L_OP_CALL_REG, &&L_OP_RET, &&L_OP_PREOP,
      &&L_OP_POSTOP, &&L_OP_PREINC, &&L_OP_POSTINC, &&L_OP_PREDEC, &&L_OP_POSTDEC,
      &&L_OP_PREINC16, &&L_OP_POSTINC16, &&L_OP_PREDEC16, &&L_OP_POSTDEC16,
      &&L_OP_ZEROB_ABS, &&L_OP_ZEROW_ABS, &&L_OP_ZEROL_ABS, &&L_OP_ZEROB_FRAME,
      &&L_OP_ZEROW_FRAME, &&L_OP_ZEROL_FRAME, &&L_OP_CMP, &&L_OP_CMP_IMM, &&L_OP_SET,
      &&L_OP_ADD, &&L_OP_ADD_IMM, &&L_OP_SUB, &&L_OP_SUB_IMM, &&L_OP_MUL, &&L_OP_DIV,
      &&L_OP_MOD, &&L_OP_SHL, &&L_OP_SHR, &&L_OP_SAR, &&L_OP_NEG, &&L_OP_NOT,
      &&L_OP_AND, &&L_OP_OR, &&L_OP_XOR, &&L_OP_JMP, &&L_OP_JE, &&L_OP_JNE, &&L_OP_JG,
      &&L_OP_JGE, &&L_OP_JL, &&L_OP_JLE, &&L_OP_JA, &&L_OP_JAE, &&L_OP_JB, &&L_OP_JBE,
      &&L_OP_FTOI, &&L_OP_ITOF, &&L_OP_FADD, &&L_OP_FSUB, &&L_OP_FMUL, &&L_OP_FDIV,
      &&L_OP_FMOD, &&L_OP_FNEG,
      // 92..255: invalid code
      L4(&&L_invalid), L16(&&L_invalid), L16(&&L_invalid), L16(&&L_invalid),
      L16(&&L_invalid), L16(&&L_invalid), L16(&&L_invalid), L16(&&L_invalid),
      L16(&&L_invalid), L16(&&L_invalid), L16(&&L_invalid)};
  static_assert(sizeof kLabels / sizeof kLabels[0] == 256);
#undef L4
#undef L16
  // Handlers of pre-decoded ops, by TKind.
  static const void* const kTLabels[TK_COUNT] = {
      &&T_OP_NOP, &&T_OP_TRAP, &&T_OP_XCHG, &&T_OP_MOVL_RR, &&T_OP_MOVL_IMM,
      &&T_OP_MOVL_ADDR, &&T_OP_MOVBL_ABS, &&T_OP_MOVSBL_ABS, &&T_OP_MOVWL_ABS,
      &&T_OP_MOVSWL_ABS, &&T_OP_MOVL_LOAD_ABS, &&T_OP_LEA, &&T_OP_MOVBL_FRAME,
      &&T_OP_MOVSBL_FRAME, &&T_OP_MOVWL_FRAME, &&T_OP_MOVSWL_FRAME,
      &&T_OP_MOVL_LOAD_FRAME, &&T_OP_MOVBL_IND, &&T_OP_MOVSBL_IND, &&T_OP_MOVWL_IND,
      &&T_OP_MOVSWL_IND, &&T_OP_MOVL_LOAD_IND, &&T_OP_MOVB_ABS, &&T_OP_MOVW_ABS,
      &&T_OP_MOVL_STORE_ABS, &&T_OP_MOVB_FRAME, &&T_OP_MOVW_FRAME,
      &&T_OP_MOVL_STORE_FRAME, &&T_OP_MOVB_IND, &&T_OP_MOVW_IND,
      &&T_OP_MOVL_STORE_IND, &&T_OP_PUSH, &&T_OP_PUSH_IMM, &&T_OP_POP, &&T_OP_ENTER,
      &&T_OP_LEAVE, &&T_OP_CALL, &&T_OP_CALL_REG, &&T_OP_RET, &&T_OP_PREOP,
      &&T_OP_POSTOP, &&T_OP_PREINC, &&T_OP_POSTINC, &&T_OP_PREDEC, &&T_OP_POSTDEC,
      &&T_OP_PREINC16, &&T_OP_POSTINC16, &&T_OP_PREDEC16, &&T_OP_POSTDEC16,
      &&T_OP_ZEROB_ABS, &&T_OP_ZEROW_ABS, &&T_OP_ZEROL_ABS, &&T_OP_ZEROB_FRAME,
      &&T_OP_ZEROW_FRAME, &&T_OP_ZEROL_FRAME, &&T_OP_CMP, &&T_OP_CMP_IMM, &&T_OP_SET,
      &&T_OP_ADD, &&T_OP_ADD_IMM, &&T_OP_SUB, &&T_OP_SUB_IMM, &&T_OP_MUL, &&T_OP_DIV,
      &&T_OP_MOD, &&T_OP_SHL, &&T_OP_SHR, &&T_OP_SAR, &&T_OP_NEG, &&T_OP_NOT,
      &&T_OP_AND, &&T_OP_OR, &&T_OP_XOR, &&T_OP_JMP, &&T_OP_JCC, &&T_OP_JCC, &&T_OP_JCC,
      &&T_OP_JCC, &&T_OP_JCC, &&T_OP_JCC, &&T_OP_JCC, &&T_OP_JCC, &&T_OP_JCC, &&T_OP_JCC,
      &&T_OP_FTOI, &&T_OP_ITOF, &&T_OP_FADD, &&T_OP_FSUB, &&T_OP_FMUL, &&T_OP_FDIV,
      &&T_OP_FMOD, &&T_OP_FNEG,
      &&T_LOAD2_SUB_JCC, &&T_IMM_LOAD_SUB_JCC, &&T_IMM_LOAD_SUB, &&T_LOAD2_ADD,
      &&T_LOAD_ADD, &&T_LEA_POSTOP, &&T_IMM_STORE, &&T_CALL_TRAP_RET,
      &&T_LOAD2_ADD_LDB, &&T_LOAD2_ADD_LDSB, &&T_LOAD2_ADD_LDL, &&T_LOAD2_ADD_STB,
      &&T_LOAD2_ADD_STL, &&T_ACC_FRAME, &&T_LOAD_ADD_DST, &&T_LOAD_MUL_DST, &&T_LOAD_MUL,
      &&T_LOAD_ADD_LDL, &&T_LOAD2, &&T_LEAVE_RET,
      &&T_EXIT, &&T_PUSH_XCHG_CALL, &&T_LOAD_MUL_ADD_MUL, &&T_IMM_LOAD2};
  static_assert(sizeof kTLabels / sizeof kTLabels[0] == TK_COUNT);
  // Handlers of the same ops with unchecked frame-slot accesses.
  static const void* const kTULabels[TK_COUNT] = {
      &&T_OP_NOP, &&T_OP_TRAP, &&T_OP_XCHG, &&T_OP_MOVL_RR, &&T_OP_MOVL_IMM,
      &&T_OP_MOVL_ADDR, &&T_OP_MOVBL_ABS, &&T_OP_MOVSBL_ABS, &&T_OP_MOVWL_ABS,
      &&T_OP_MOVSWL_ABS, &&T_OP_MOVL_LOAD_ABS, &&T_OP_LEA, &&T_OP_MOVBL_FRAME,
      &&T_OP_MOVSBL_FRAME, &&T_OP_MOVWL_FRAME, &&T_OP_MOVSWL_FRAME,
      &&U_OP_MOVL_LOAD_FRAME, &&T_OP_MOVBL_IND, &&T_OP_MOVSBL_IND, &&T_OP_MOVWL_IND,
      &&T_OP_MOVSWL_IND, &&T_OP_MOVL_LOAD_IND, &&T_OP_MOVB_ABS, &&T_OP_MOVW_ABS,
      &&T_OP_MOVL_STORE_ABS, &&T_OP_MOVB_FRAME, &&T_OP_MOVW_FRAME,
      &&U_OP_MOVL_STORE_FRAME, &&T_OP_MOVB_IND, &&T_OP_MOVW_IND,
      &&T_OP_MOVL_STORE_IND, &&T_OP_PUSH, &&T_OP_PUSH_IMM, &&T_OP_POP, &&T_OP_ENTER,
      &&T_OP_LEAVE, &&T_OP_CALL, &&T_OP_CALL_REG, &&T_OP_RET, &&T_OP_PREOP,
      &&T_OP_POSTOP, &&T_OP_PREINC, &&T_OP_POSTINC, &&T_OP_PREDEC, &&T_OP_POSTDEC,
      &&T_OP_PREINC16, &&T_OP_POSTINC16, &&T_OP_PREDEC16, &&T_OP_POSTDEC16,
      &&T_OP_ZEROB_ABS, &&T_OP_ZEROW_ABS, &&T_OP_ZEROL_ABS, &&T_OP_ZEROB_FRAME,
      &&T_OP_ZEROW_FRAME, &&T_OP_ZEROL_FRAME, &&T_OP_CMP, &&T_OP_CMP_IMM, &&T_OP_SET,
      &&T_OP_ADD, &&T_OP_ADD_IMM, &&T_OP_SUB, &&T_OP_SUB_IMM, &&T_OP_MUL, &&T_OP_DIV,
      &&T_OP_MOD, &&T_OP_SHL, &&T_OP_SHR, &&T_OP_SAR, &&T_OP_NEG, &&T_OP_NOT,
      &&T_OP_AND, &&T_OP_OR, &&T_OP_XOR, &&T_OP_JMP, &&T_OP_JCC, &&T_OP_JCC, &&T_OP_JCC,
      &&T_OP_JCC, &&T_OP_JCC, &&T_OP_JCC, &&T_OP_JCC, &&T_OP_JCC, &&T_OP_JCC, &&T_OP_JCC,
      &&T_OP_FTOI, &&T_OP_ITOF, &&T_OP_FADD, &&T_OP_FSUB, &&T_OP_FMUL, &&T_OP_FDIV,
      &&T_OP_FMOD, &&T_OP_FNEG,
      &&U_LOAD2_SUB_JCC, &&U_IMM_LOAD_SUB_JCC, &&U_IMM_LOAD_SUB, &&U_LOAD2_ADD,
      &&U_LOAD_ADD, &&U_LEA_POSTOP, &&U_IMM_STORE, &&T_CALL_TRAP_RET,
      &&U_LOAD2_ADD_LDB, &&U_LOAD2_ADD_LDSB, &&U_LOAD2_ADD_LDL, &&U_LOAD2_ADD_STB,
      &&U_LOAD2_ADD_STL, &&U_ACC_FRAME, &&U_LOAD_ADD_DST, &&U_LOAD_MUL_DST, &&U_LOAD_MUL,
      &&U_LOAD_ADD_LDL, &&U_LOAD2, &&T_LEAVE_RET,
      &&T_EXIT, &&T_PUSH_XCHG_CALL, &&U_LOAD_MUL_ADD_MUL, &&U_IMM_LOAD2};
#endif

  if (!stepping) goto block_dispatch;

fetch:
  if (IN_SPACE(pc, 6)) {
    ip = base + pc;
    DISPATCH(ip[0]);
  } else {
    CHECK(pc, 1);
    CHECK(pc, op_length(base[pc]));
    ip = base + pc;
    DISPATCH(ip[0]);
  }

#if !TALVEN_VM_COMPUTED_GOTO
dispatch_switch:
  switch (opcode) {
#endif

  // ---- moves ----------------------------------------------------------------
  CASE(OP_NOP) { pc += 1; NEXT; }
  CASE(OP_XCHG) {
    pc += 2; REGS;
    v = r[d]; r[d] = r[s]; r[s] = v;
    NEXT;
  }
  CASE(OP_MOVL_RR) { pc += 2; REGS; r[d] = r[s]; NEXT; }
  CASE(OP_MOVL_IMM)
  CASE(OP_MOVL_ADDR) { pc += 6; REGS; r[d] = IMM2; NEXT; }

  // ---- loads ------------------------------------------------------------------
  CASE(OP_MOVBL_ABS) { pc += 6; REGS; LOAD8(IMM2, r[d]); NEXT; }
  CASE(OP_MOVSBL_ABS) {
    pc += 6; REGS; LOAD8(IMM2, v);
    r[d] = static_cast<std::uint32_t>(static_cast<std::int8_t>(v));
    NEXT;
  }
  CASE(OP_MOVWL_ABS) { pc += 6; REGS; LOAD16(IMM2, r[d]); NEXT; }
  CASE(OP_MOVSWL_ABS) {
    pc += 6; REGS; LOAD16(IMM2, v);
    r[d] = static_cast<std::uint32_t>(static_cast<std::int16_t>(v));
    NEXT;
  }
  CASE(OP_MOVL_LOAD_ABS) { pc += 6; REGS; LOAD32(IMM2, r[d]); NEXT; }
  CASE(OP_LEA) { pc += 6; REGS; r[d] = r[kRegFrame] + IMM2; NEXT; }
  CASE(OP_MOVBL_FRAME) { pc += 6; REGS; LOAD8(r[kRegFrame] + IMM2, r[d]); NEXT; }
  CASE(OP_MOVSBL_FRAME) {
    pc += 6; REGS; LOAD8(r[kRegFrame] + IMM2, v);
    r[d] = static_cast<std::uint32_t>(static_cast<std::int8_t>(v));
    NEXT;
  }
  CASE(OP_MOVWL_FRAME) { pc += 6; REGS; LOAD16(r[kRegFrame] + IMM2, r[d]); NEXT; }
  CASE(OP_MOVSWL_FRAME) {
    pc += 6; REGS; LOAD16(r[kRegFrame] + IMM2, v);
    r[d] = static_cast<std::uint32_t>(static_cast<std::int16_t>(v));
    NEXT;
  }
  CASE(OP_MOVL_LOAD_FRAME) { pc += 6; REGS; LOAD32(r[kRegFrame] + IMM2, r[d]); NEXT; }
  CASE(OP_MOVBL_IND) { pc += 2; REGS; LOAD8(r[s], r[d]); NEXT; }
  CASE(OP_MOVSBL_IND) {
    pc += 2; REGS; LOAD8(r[s], v);
    r[d] = static_cast<std::uint32_t>(static_cast<std::int8_t>(v));
    NEXT;
  }
  CASE(OP_MOVWL_IND) { pc += 2; REGS; LOAD16(r[s], r[d]); NEXT; }
  CASE(OP_MOVSWL_IND) {
    pc += 2; REGS; LOAD16(r[s], v);
    r[d] = static_cast<std::uint32_t>(static_cast<std::int16_t>(v));
    NEXT;
  }
  CASE(OP_MOVL_LOAD_IND) { pc += 2; REGS; LOAD32(r[s], r[d]); NEXT; }

  // ---- stores -----------------------------------------------------------------
  CASE(OP_MOVB_ABS) { pc += 6; REGS; STORE8(IMM2, r[s]); NEXT; }
  CASE(OP_MOVW_ABS) { pc += 6; REGS; STORE16(IMM2, r[s]); NEXT; }
  CASE(OP_MOVL_STORE_ABS) { pc += 6; REGS; STORE32(IMM2, r[s]); NEXT; }
  CASE(OP_MOVB_FRAME) { pc += 6; REGS; STORE8(r[kRegFrame] + IMM2, r[s]); NEXT; }
  CASE(OP_MOVW_FRAME) { pc += 6; REGS; STORE16(r[kRegFrame] + IMM2, r[s]); NEXT; }
  CASE(OP_MOVL_STORE_FRAME) { pc += 6; REGS; STORE32(r[kRegFrame] + IMM2, r[s]); NEXT; }
  CASE(OP_MOVB_IND) { pc += 2; REGS; STORE8(r[d], r[s]); NEXT; }
  CASE(OP_MOVW_IND) { pc += 2; REGS; STORE16(r[d], r[s]); NEXT; }
  CASE(OP_MOVL_STORE_IND) { pc += 2; REGS; STORE32(r[d], r[s]); NEXT; }

  // ---- stack, frames, calls ---------------------------------------------------
  CASE(OP_PUSH) {
    pc += 2; REGS;
    nsp = r[kRegStack] - 4;
    if (!STACK_OK(nsp)) FAIL(kErrStackOverflow);
    r[kRegStack] = nsp;
    STORE32(nsp, r[s]);
    NEXT;
  }
  CASE(OP_PUSH_IMM) {
    pc += 5; IMM1;
    nsp = r[kRegStack] - 4;
    if (!STACK_OK(nsp)) FAIL(kErrStackOverflow);
    r[kRegStack] = nsp;
    STORE32(nsp, imm);
    NEXT;
  }
  CASE(OP_POP) {
    pc += 2; REGS;
    nsp = r[kRegStack] + 4;
    if (!STACK_OK(nsp)) FAIL(kErrStackOverflow);
    LOAD32(r[kRegStack], v);
    r[kRegStack] = nsp;
    r[d] = v;
    NEXT;
  }
  CASE(OP_ENTER) {
    pc += 5; IMM1;
    a = r[kRegStack];  // old r7
    nsp = a - imm - kFrameSaveBytes;
    if (!STACK_OK(nsp)) FAIL(kErrStackOverflow);
    CHECK(a - kFrameSaveBytes, kFrameSaveBytes);
    SAVE_FRAME(base + (a - kFrameSaveBytes));  // r1..r6
    r[kRegStack] = nsp;
    r[kRegFrame] = a - 4;
    NEXT;
  }
  CASE(OP_LEAVE) {
    pc += 5; IMM1;
    if (static_cast<std::uint32_t>(r[kRegStack] + imm + kFrameSaveBytes - stack) >= stack_size) {
      // The outermost frame: the context is finished.
      ctx->state = kVmFinished;
      goto leave_slice;
    }
    a = r[kRegStack] + imm;
    CHECK(a, kFrameSaveBytes);
    RESTORE_FRAME(base + a);
    r[kRegStack] = a + kFrameSaveBytes;
    NEXT;
  }
  CASE(OP_CALL) {
    pc += 5; IMM1;
    nsp = r[kRegStack] - 4;
    if (!STACK_OK(nsp)) FAIL(kErrStackOverflow);
    r[kRegStack] = nsp;
    STORE32(nsp, pc);
    pc = imm;
    NEXT;
  }
  CASE(OP_CALL_REG) {
    pc += 2; REGS;
    if (r[s] == 0) FAIL(kErrOutOfMemory);
    nsp = r[kRegStack] - 4;
    if (!STACK_OK(nsp)) FAIL(kErrStackOverflow);
    r[kRegStack] = nsp;
    STORE32(nsp, pc);
    pc = r[s];
    NEXT;
  }
  CASE(OP_RET) {
    pc += 1;
    nsp = r[kRegStack] + 4;
    if (!STACK_OK(nsp)) FAIL(kErrStackOverflow);
    LOAD32(r[kRegStack], v);
    r[kRegStack] = nsp;
    pc = v;
    if (pc == kReturnFinish) {
      ctx->state = kVmFinished;
      goto leave_slice;
    }
    NEXT;
  }
  CASE(OP_TRAP) {
    pc += 3;
    if (trap_handler) {
      const std::uint16_t number = get_u16(ip + 1);
      std::memcpy(ctx->r, r, sizeof r);
      ctx->pc = pc;
      ctx->zero_flag = zf;
      ctx->less_flag = lf;
      ctx->below_flag = bf;
      // A handler that ends the slice may have replaced (and freed) this
      // context, so nothing of it is touched afterwards.
      if (trap_handler(number, ctx) != 0) return 1;
      std::memcpy(r, ctx->r, sizeof r);
      pc = ctx->pc;
      zf = ctx->zero_flag;
      lf = ctx->less_flag;
      bf = ctx->below_flag;
      if (ctx->state != kVmRunning) return 1;
      NOTE_HOST_WRITES;
    }
    NEXT;
  }

  // ---- read-modify-write ------------------------------------------------------
  CASE(OP_PREOP) {
    pc += 6; REGS; IMM2;
    a = r[s];
    LOAD32(a, v);
    v += imm;
    STORE32(a, v);
    r[d] = v;
    NEXT;
  }
  CASE(OP_POSTOP) {
    pc += 6; REGS; IMM2;
    a = r[s];
    LOAD32(a, v);
    r[d] = v;
    STORE32(a, v + imm);
    NEXT;
  }
  CASE(OP_PREINC) {
    pc += 2; REGS; a = r[s];
    LOAD8(a, v); v = (v + 1) & 0xFFu; STORE8(a, v); r[d] = v;
    NEXT;
  }
  CASE(OP_POSTINC) {
    pc += 2; REGS; a = r[s];
    LOAD8(a, v); r[d] = v; STORE8(a, v + 1);
    NEXT;
  }
  CASE(OP_PREDEC) {
    pc += 2; REGS; a = r[s];
    LOAD8(a, v); v = (v - 1) & 0xFFu; STORE8(a, v); r[d] = v;
    NEXT;
  }
  CASE(OP_POSTDEC) {
    pc += 2; REGS; a = r[s];
    LOAD8(a, v); r[d] = v; STORE8(a, v - 1);
    NEXT;
  }
  CASE(OP_PREINC16) {
    pc += 2; REGS; a = r[s];
    LOAD16(a, v); v = (v + 1) & 0xFFFFu; STORE16(a, v); r[d] = v;
    NEXT;
  }
  CASE(OP_POSTINC16) {
    pc += 2; REGS; a = r[s];
    LOAD16(a, v); r[d] = v; STORE16(a, v + 1);
    NEXT;
  }
  CASE(OP_PREDEC16) {
    pc += 2; REGS; a = r[s];
    LOAD16(a, v); v = (v - 1) & 0xFFFFu; STORE16(a, v); r[d] = v;
    NEXT;
  }
  CASE(OP_POSTDEC16) {
    pc += 2; REGS; a = r[s];
    LOAD16(a, v); r[d] = v; STORE16(a, v - 1);
    NEXT;
  }

  // ---- tests and comparisons --------------------------------------------------
  CASE(OP_ZEROB_ABS) { pc += 5; LOAD8(IMM1, v); zf = v == 0; NEXT; }
  CASE(OP_ZEROW_ABS) { pc += 5; LOAD16(IMM1, v); zf = v == 0; NEXT; }
  CASE(OP_ZEROL_ABS) { pc += 5; LOAD32(IMM1, v); zf = v == 0; NEXT; }
  CASE(OP_ZEROB_FRAME) { pc += 5; LOAD8(r[kRegFrame] + IMM1, v); zf = v == 0; NEXT; }
  CASE(OP_ZEROW_FRAME) { pc += 5; LOAD16(r[kRegFrame] + IMM1, v); zf = v == 0; NEXT; }
  CASE(OP_ZEROL_FRAME) { pc += 5; LOAD32(r[kRegFrame] + IMM1, v); zf = v == 0; NEXT; }

#define COMPARE(x, y)                                                              \
  do {                                                                             \
    const std::uint32_t cx_ = (x), cy_ = (y);                                      \
    zf = cx_ == cy_;                                                               \
    lf = static_cast<std::int32_t>(cx_) < static_cast<std::int32_t>(cy_);          \
    bf = cx_ < cy_;                                                                \
  } while (0)
  CASE(OP_CMP) { pc += 2; REGS; COMPARE(r[d], r[s]); NEXT; }
  CASE(OP_CMP_IMM) { pc += 6; REGS; COMPARE(r[d], IMM2); NEXT; }
  CASE(OP_SET) { pc += 2; REGS; r[d] = r[s] == 0; NEXT; }

  // ---- integer arithmetic -------------------------------------------------
  CASE(OP_ADD) { pc += 2; REGS; r[d] += r[s]; NEXT; }
  CASE(OP_ADD_IMM) { pc += 6; REGS; r[d] += IMM2; NEXT; }
  CASE(OP_SUB) { pc += 2; REGS; COMPARE(r[d], r[s]); r[d] -= r[s]; NEXT; }
  CASE(OP_SUB_IMM) { pc += 6; REGS; IMM2; COMPARE(r[d], imm); r[d] -= imm; NEXT; }
  CASE(OP_MUL) { pc += 2; REGS; r[d] *= r[s]; NEXT; }
  CASE(OP_DIV) {
    pc += 2; REGS;
    if (r[s] == 0) FAIL(kErrDivideByZero);
    // -2^31 / -1 overflows; it wraps to -2^31 instead of trapping.
    if (r[s] == 0xFFFFFFFFu)
      r[d] = 0u - r[d];
    else
      r[d] = static_cast<std::uint32_t>(static_cast<std::int32_t>(r[d]) /
                                        static_cast<std::int32_t>(r[s]));
    NEXT;
  }
  CASE(OP_MOD) {
    pc += 2; REGS;
    if (r[s] == 0) FAIL(kErrDivideByZero);
    if (r[s] == 0xFFFFFFFFu)
      r[d] = 0;
    else
      r[d] = static_cast<std::uint32_t>(static_cast<std::int32_t>(r[d]) %
                                        static_cast<std::int32_t>(r[s]));
    NEXT;
  }
  CASE(OP_SHL) { pc += 2; REGS; r[d] <<= (r[s] & 31u); NEXT; }
  CASE(OP_SHR) { pc += 2; REGS; r[d] >>= (r[s] & 31u); NEXT; }
  CASE(OP_SAR) {
    pc += 2; REGS;
    r[d] = static_cast<std::uint32_t>(static_cast<std::int32_t>(r[d]) >> (r[s] & 31u));
    NEXT;
  }
  CASE(OP_NEG) { pc += 2; REGS; r[d] = 0u - r[s]; NEXT; }
  CASE(OP_NOT) { pc += 2; REGS; r[d] = ~r[s]; NEXT; }
  CASE(OP_AND) { pc += 2; REGS; r[d] &= r[s]; NEXT; }
  CASE(OP_OR) { pc += 2; REGS; r[d] |= r[s]; NEXT; }
  CASE(OP_XOR) { pc += 2; REGS; r[d] ^= r[s]; NEXT; }

  // ---- jumps -----------------------------------------------------------------
  CASE(OP_JMP) { pc = IMM1; NEXT; }
  CASE(OP_JE) { pc = zf ? IMM1 : pc + 5; NEXT; }
  CASE(OP_JNE) { pc = !zf ? IMM1 : pc + 5; NEXT; }
  CASE(OP_JG) { pc = (!lf && !zf) ? IMM1 : pc + 5; NEXT; }
  CASE(OP_JGE) { pc = (!lf || zf) ? IMM1 : pc + 5; NEXT; }
  CASE(OP_JL) { pc = (lf && !zf) ? IMM1 : pc + 5; NEXT; }
  CASE(OP_JLE) { pc = (lf || zf) ? IMM1 : pc + 5; NEXT; }
  CASE(OP_JA) { pc = (!bf && !zf) ? IMM1 : pc + 5; NEXT; }
  CASE(OP_JAE) { pc = (!bf || zf) ? IMM1 : pc + 5; NEXT; }
  CASE(OP_JB) { pc = (bf && !zf) ? IMM1 : pc + 5; NEXT; }
  CASE(OP_JBE) { pc = (bf || zf) ? IMM1 : pc + 5; NEXT; }

  // ---- floats ------------------------------------------------------------------
  CASE(OP_FTOI) { pc += 2; REGS; r[d] = float_to_int(as_float(r[s])); NEXT; }
  CASE(OP_ITOF) {
    pc += 2; REGS;
    r[d] = float_bits(static_cast<float>(static_cast<std::int32_t>(r[s])));
    NEXT;
  }
  CASE(OP_FADD) { pc += 2; REGS; r[d] = float_op(FloatOp::kAdd, r[d], r[s]); NEXT; }
  CASE(OP_FSUB) {
    pc += 2; REGS;
    {
      const float x = as_float(r[d]), y = as_float(r[s]);
      zf = x == y;  // false when unordered
      lf = x < y;
      bf = false;
      r[d] = float_op(FloatOp::kSub, r[d], r[s]);
    }
    NEXT;
  }
  CASE(OP_FMUL) { pc += 2; REGS; r[d] = float_op(FloatOp::kMul, r[d], r[s]); NEXT; }
  CASE(OP_FDIV) { pc += 2; REGS; r[d] = float_op(FloatOp::kDiv, r[d], r[s]); NEXT; }
  CASE(OP_FMOD) {
    pc += 2; REGS;
    r[d] = float_bits(static_cast<float>(
        std::fmod(static_cast<double>(as_float(r[d])), static_cast<double>(as_float(r[s])))));
    NEXT;
  }
  CASE(OP_FNEG) { pc += 2; REGS; r[d] = float_bits(-as_float(r[s])); NEXT; }

#if TALVEN_VM_COMPUTED_GOTO
L_invalid:
#else
  default:
#endif
  pc += 1;
  goto invalid_code;

#if !TALVEN_VM_COMPUTED_GOTO
  }  // switch
#endif

#if TALVEN_VM_COMPUTED_GOTO
  // ---- pre-decoded blocks ---------------------------------------------------
  //
  // A block runs from its first op to its last without per-instruction
  // bookkeeping: its instruction count is taken from the slice budget when
  // it is entered (when the slice ends inside it, the ops that fit run and
  // the rest of the slice is stepped from the image), and pc is written
  // only when control leaves the block or an error is raised, each op
  // knowing the address just past its instructions.
#define REFRESH_HULL                       \
  do {                                     \
    if (tr->hi > tr->lo) {                 \
      code_lo = tr->lo;                    \
      code_span = tr->hi - tr->lo;         \
      space.watch_code(tr->lo, tr->hi);    \
    }                                      \
  } while (0)
#define TNEXT           \
  do {                  \
    ++op;               \
    goto *op->handler;  \
  } while (0)
#define TFAIL_AT(e, at_pc) \
  do {                     \
    pc = (at_pc);          \
    error = (e);           \
    goto runtime_error;    \
  } while (0)
#define TCHECK(addr, len, at_pc)                                                \
  do {                                                                          \
    if (!IN_SPACE(addr, len)) {                                                 \
      hi = space.limit() - kLowLimit;                                           \
      if (!IN_SPACE(addr, len)) {                                               \
        bad = (addr);                                                           \
        pc = (at_pc);                                                           \
        goto invalid_address;                                                   \
      }                                                                         \
    }                                                                           \
  } while (0)
#define TLOAD(T, addr, out, at_pc)             \
  do {                                         \
    const Addr at_ = (addr);                   \
    TCHECK(at_, sizeof(T), at_pc);             \
    T val_;                                    \
    std::memcpy(&val_, base + at_, sizeof(T)); \
    out = val_;                                \
  } while (0)
// Stores write memory only; an op that stores ends with CODE_CHECK on the
// address, after all its other effects.
#define TGUARD(addr, len, at_pc)                                         \
  do {                                                                  \
    if (guarded && space.guard_hit(addr, len)) [[unlikely]] {           \
      bad = (addr);                                                     \
      bad_len = (len);                                                  \
      pc = (at_pc);                                                     \
      goto guard_fault;                                                 \
    }                                                                   \
  } while (0)
#define TSTORE(T, addr, value, at_pc)          \
  do {                                         \
    const Addr at_ = (addr);                   \
    TCHECK(at_, sizeof(T), at_pc);             \
    TGUARD(at_, sizeof(T), at_pc);             \
    const T val_ = static_cast<T>(value);      \
    std::memcpy(base + at_, &val_, sizeof(T)); \
  } while (0)
#define CODE_CHECK(addr) \
  if (static_cast<std::uint32_t>((addr) - code_lo) < code_span) goto code_written
#define RD r[op->d]
#define RS r[op->s]
#define FRAME_AT(disp) (r[kRegFrame] + (disp))
// Leaves the block for pc through the successor cache `s_` of the block:
// TGO when pc is the successor's fixed address, TGO_VAR when pc varies
// (returns, calls through registers, traps).
#define TGO(s_)                      \
  do {                               \
    slot = &blk->s_;                 \
    nb = *slot;                      \
    if (budget == 0) goto leave_slice; \
    if (nb) {                        \
      blk = nb;                      \
      goto enter_block;              \
    }                                \
    goto chain;                      \
  } while (0)
#define TGO_VAR(s_)    \
  do {                 \
    slot = &blk->s_;   \
    nb = *slot;        \
    goto chain;        \
  } while (0)
// Leaves a block that ends in a return: its two most recent successors are
// kept in `taken` and `fall` (a function called from two places returns to
// either), the one just used in `taken`.
#define TGO_RET                                   \
  do {                                            \
    nb = blk->taken;                              \
    if (nb && nb->start != pc) {                  \
      Block* const other_ = blk->fall;            \
      blk->fall = nb;                             \
      blk->taken = other_;                        \
      nb = other_;                                \
    }                                             \
    slot = &blk->taken;                           \
    goto chain;                                   \
  } while (0)

block_dispatch:
  if (static_cast<std::uint32_t>(pc - tr->program) >= tr->size) goto fetch;
  blk = find_block(*tr, pc);
  if (!blk) {
    blk = translate_block(*tr, base, pc, kTLabels, kTULabels);
    if (!blk) goto fetch;
    REFRESH_HULL;
  }
  if (blk->count == 0) goto fetch;
enter_block:
  // blk->count is not 0 here: such blocks are never cached as successors.
  if (blk->stamp != tr->stamp) {
    if (!block_matches(*blk, base)) {
      translate_block(*tr, base, blk->start, kTLabels, kTULabels, blk);
      REFRESH_HULL;
      if (blk->count == 0) goto fetch;
    }
    blk->stamp = tr->stamp;
  }
  if (native_on) {
    if (!blk->native_tried) {
      blk->native_tried = true;
      blk->native = native_compile(*tr, *blk);
    }
    if (blk->native && blk->count <= budget) goto run_native;
  }
  if (blk->frame_len) {
    // The frame slots the block's unchecked ops reach, from r6 as it is now.
    a = r[kRegFrame] + static_cast<Addr>(blk->frame_lo);
    if (!IN_SPACE(a, blk->frame_len)) {
      hi = space.limit() - kLowLimit;
      if (!IN_SPACE(a, blk->frame_len)) {
        // Not there: the rest of the slice runs from the image, which
        // reports the bad access where it happens.
        stepping = true;
        goto fetch;
      }
    }
  }
  if (blk->count > budget) {
    // The slice ends inside the block: the ops that fit run, the op after
    // them ends the block (T_STOP), and the rest of the slice runs from the
    // image instruction by instruction. Op k covers the block's first
    // count - rest[k] instructions.
    std::size_t j = 0;
    while (blk->count - blk->ops[j].rest <= budget) ++j;
    stepping = true;
    if (j == 0) goto fetch;
    stop_op = &blk->ops[j];
    stop_saved = stop_op->handler;
    stop_op->handler = &&T_STOP;
    budget -= blk->count - blk->ops[j - 1].rest;
    op = blk->ops.data();
    goto *op->handler;
  }
  budget -= blk->count;
  op = blk->ops.data();
  goto *op->handler;

run_native:
  // Machine code runs from blk on, through linked blocks, until it needs
  // the interpreter; then the interpreter goes on from where it stopped.
  ns.budget = budget;
  ns.stamp = tr->stamp;
  ns.code_lo = code_lo;
  ns.code_span = code_span;
  ns.hi = hi;
  ns.hi1 = hi - 1;  // as signed numbers: below 0 nothing fits
  ns.hi2 = hi - 2;
  ns.hi4 = hi - 4;
  ns.hi24 = hi - kFrameSaveBytes;
  ns.zf = zf;
  ns.lf = lf;
  ns.bf = bf;
  native_run(&ns, blk->native);
  budget = ns.budget;
  zf = ns.zf;
  lf = ns.lf;
  bf = ns.bf;
  pc = ns.pc;
  blk = ns.blk;
  switch (ns.exit) {
    case kNativeTaken:
      slot = &blk->taken;
      nb = *slot;
      goto chain;
    case kNativeFall:
      slot = &blk->fall;
      nb = *slot;
      goto chain;
    case kNativeReturn: TGO_RET;
    case kNativeEnter:
      if (budget == 0) goto leave_slice;
      goto enter_block;
    case kNativeStep:
      // That one instruction from the image, then blocks again.
      goto fetch;
    case kNativeTrapCall:
      // The block's own builtin-call op (its instructions are already
      // taken from the budget).
      op = &blk->ops.back();
      goto *op->handler;
    default:
      stepping = true;
      goto fetch;
  }

T_STOP:
  stop_op->handler = stop_saved;
  stop_op = nullptr;
  pc = (op - 1)->pc;
  if (budget == 0) goto leave_slice;
  goto fetch;

chain:
  // pc is the next instruction; nb the cached block for it, if any.
  if (budget == 0) goto leave_slice;
  if (nb && nb->start == pc) {
    blk = nb;
    goto enter_block;
  }
  if (static_cast<std::uint32_t>(pc - tr->program) >= tr->size) goto fetch;
  nb = find_block(*tr, pc);
  if (!nb) {
    nb = translate_block(*tr, base, pc, kTLabels, kTULabels);
    if (!nb) goto fetch;
    REFRESH_HULL;
  }
  if (nb->count == 0) goto fetch;
  *slot = nb;
  blk = nb;
  goto enter_block;

code_written:
  // A store changed translated bytes: the blocks are checked again, and
  // execution goes on from the image's current contents.
  ++tr->stamp;
  pc = op->pc;
  budget += op->rest;
  if (stop_op) {
    budget -= (stop_op - 1)->rest;
    stop_op->handler = stop_saved;
    stop_op = nullptr;
  }
  if (budget == 0) goto leave_slice;
  goto block_dispatch;

T_OP_NOP: TNEXT;
T_OP_TRAP:
  pc = op->pc;
  if (trap_handler) {
    std::memcpy(ctx->r, r, sizeof r);
    ctx->pc = pc;
    ctx->zero_flag = zf;
    ctx->less_flag = lf;
    ctx->below_flag = bf;
    if (trap_handler(static_cast<std::uint16_t>(op->a), ctx) != 0) return 1;
    std::memcpy(r, ctx->r, sizeof r);
    pc = ctx->pc;
    zf = ctx->zero_flag;
    lf = ctx->less_flag;
    bf = ctx->below_flag;
    if (ctx->state != kVmRunning) return 1;
    NOTE_HOST_WRITES;
  }
  TGO_VAR(fall);
T_OP_XCHG: v = RD; RD = RS; RS = v; TNEXT;
T_OP_MOVL_RR: RD = RS; TNEXT;
T_OP_MOVL_IMM:
T_OP_MOVL_ADDR: RD = op->a; TNEXT;
T_OP_MOVBL_ABS: TLOAD(std::uint8_t, op->a, RD, op->pc); TNEXT;
T_OP_MOVSBL_ABS: TLOAD(std::int8_t, op->a, RD, op->pc); TNEXT;
T_OP_MOVWL_ABS: TLOAD(std::uint16_t, op->a, RD, op->pc); TNEXT;
T_OP_MOVSWL_ABS: TLOAD(std::int16_t, op->a, RD, op->pc); TNEXT;
T_OP_MOVL_LOAD_ABS: TLOAD(std::uint32_t, op->a, RD, op->pc); TNEXT;
T_OP_LEA: RD = FRAME_AT(op->a); TNEXT;
T_OP_MOVBL_FRAME: TLOAD(std::uint8_t, FRAME_AT(op->a), RD, op->pc); TNEXT;
T_OP_MOVSBL_FRAME: TLOAD(std::int8_t, FRAME_AT(op->a), RD, op->pc); TNEXT;
T_OP_MOVWL_FRAME: TLOAD(std::uint16_t, FRAME_AT(op->a), RD, op->pc); TNEXT;
T_OP_MOVSWL_FRAME: TLOAD(std::int16_t, FRAME_AT(op->a), RD, op->pc); TNEXT;
T_OP_MOVL_LOAD_FRAME: TLOAD(std::uint32_t, FRAME_AT(op->a), RD, op->pc); TNEXT;
T_OP_MOVBL_IND: TLOAD(std::uint8_t, RS, RD, op->pc); TNEXT;
T_OP_MOVSBL_IND: TLOAD(std::int8_t, RS, RD, op->pc); TNEXT;
T_OP_MOVWL_IND: TLOAD(std::uint16_t, RS, RD, op->pc); TNEXT;
T_OP_MOVSWL_IND: TLOAD(std::int16_t, RS, RD, op->pc); TNEXT;
T_OP_MOVL_LOAD_IND: TLOAD(std::uint32_t, RS, RD, op->pc); TNEXT;
T_OP_MOVB_ABS: TSTORE(std::uint8_t, op->a, RS, op->pc); CODE_CHECK(op->a); TNEXT;
T_OP_MOVW_ABS: TSTORE(std::uint16_t, op->a, RS, op->pc); CODE_CHECK(op->a); TNEXT;
T_OP_MOVL_STORE_ABS: TSTORE(std::uint32_t, op->a, RS, op->pc); CODE_CHECK(op->a); TNEXT;
T_OP_MOVB_FRAME:
  a = FRAME_AT(op->a); TSTORE(std::uint8_t, a, RS, op->pc); CODE_CHECK(a); TNEXT;
T_OP_MOVW_FRAME:
  a = FRAME_AT(op->a); TSTORE(std::uint16_t, a, RS, op->pc); CODE_CHECK(a); TNEXT;
T_OP_MOVL_STORE_FRAME:
  a = FRAME_AT(op->a); TSTORE(std::uint32_t, a, RS, op->pc); CODE_CHECK(a); TNEXT;
T_OP_MOVB_IND: a = RD; TSTORE(std::uint8_t, a, RS, op->pc); CODE_CHECK(a); TNEXT;
T_OP_MOVW_IND: a = RD; TSTORE(std::uint16_t, a, RS, op->pc); CODE_CHECK(a); TNEXT;
T_OP_MOVL_STORE_IND: a = RD; TSTORE(std::uint32_t, a, RS, op->pc); CODE_CHECK(a); TNEXT;
// The stack lies outside every program area: stack stores need no code check.
T_OP_PUSH:
  nsp = r[kRegStack] - 4;
  if (!STACK_OK(nsp)) TFAIL_AT(kErrStackOverflow, op->pc);
  r[kRegStack] = nsp;
  TSTORE(std::uint32_t, nsp, RS, op->pc);
  TNEXT;
T_OP_PUSH_IMM:
  nsp = r[kRegStack] - 4;
  if (!STACK_OK(nsp)) TFAIL_AT(kErrStackOverflow, op->pc);
  r[kRegStack] = nsp;
  TSTORE(std::uint32_t, nsp, op->a, op->pc);
  TNEXT;
T_OP_POP:
  nsp = r[kRegStack] + 4;
  if (!STACK_OK(nsp)) TFAIL_AT(kErrStackOverflow, op->pc);
  TLOAD(std::uint32_t, r[kRegStack], v, op->pc);
  r[kRegStack] = nsp;
  RD = v;
  TNEXT;
T_OP_ENTER:
  a = r[kRegStack];
  nsp = a - op->a - kFrameSaveBytes;
  if (!STACK_OK(nsp)) TFAIL_AT(kErrStackOverflow, op->pc);
  TCHECK(a - kFrameSaveBytes, kFrameSaveBytes, op->pc);
  SAVE_FRAME(base + (a - kFrameSaveBytes));
  r[kRegStack] = nsp;
  r[kRegFrame] = a - 4;
  TNEXT;
T_OP_LEAVE:
  if (static_cast<std::uint32_t>(r[kRegStack] + op->a + kFrameSaveBytes - stack) >= stack_size) {
    ctx->state = kVmFinished;
    pc = op->pc;
    goto leave_slice;
  }
  a = r[kRegStack] + op->a;
  TCHECK(a, kFrameSaveBytes, op->pc);
  RESTORE_FRAME(base + a);
  r[kRegStack] = a + kFrameSaveBytes;
  TNEXT;
T_OP_CALL:
  nsp = r[kRegStack] - 4;
  if (!STACK_OK(nsp)) TFAIL_AT(kErrStackOverflow, op->pc);
  r[kRegStack] = nsp;
  TSTORE(std::uint32_t, nsp, op->pc, op->pc);
  pc = op->a;
  TGO(taken);
T_OP_CALL_REG:
  if (RS == 0) TFAIL_AT(kErrOutOfMemory, op->pc);
  nsp = r[kRegStack] - 4;
  if (!STACK_OK(nsp)) TFAIL_AT(kErrStackOverflow, op->pc);
  r[kRegStack] = nsp;
  TSTORE(std::uint32_t, nsp, op->pc, op->pc);
  pc = RS;
  TGO_VAR(taken);
T_OP_RET:
  nsp = r[kRegStack] + 4;
  if (!STACK_OK(nsp)) TFAIL_AT(kErrStackOverflow, op->pc);
  TLOAD(std::uint32_t, r[kRegStack], v, op->pc);
  r[kRegStack] = nsp;
  pc = v;
  if (pc == kReturnFinish) {
    ctx->state = kVmFinished;
    goto leave_slice;
  }
  TGO_RET;
T_OP_PREOP:
  a = RS;
  TLOAD(std::uint32_t, a, v, op->pc);
  v += op->a;
  TGUARD(a, 4, op->pc);
  std::memcpy(base + a, &v, 4);  // the load checked the same four bytes
  RD = v;
  CODE_CHECK(a);
  TNEXT;
T_OP_POSTOP:
  a = RS;
  TLOAD(std::uint32_t, a, v, op->pc);
  RD = v;
  v += op->a;
  TGUARD(a, 4, op->pc);
  std::memcpy(base + a, &v, 4);
  CODE_CHECK(a);
  TNEXT;
#define T_RMW(T, delta, pre)                         \
  a = RS;                                            \
  {                                                  \
    T old_;                                          \
    TLOAD(T, a, old_, op->pc);                       \
    const T new_ = static_cast<T>(old_ + (delta));   \
    TGUARD(a, sizeof(T), op->pc);                    \
    std::memcpy(base + a, &new_, sizeof(T));         \
    RD = (pre) ? new_ : old_;                        \
  }                                                  \
  CODE_CHECK(a);                                     \
  TNEXT;
T_OP_PREINC: T_RMW(std::uint8_t, 1, true)
T_OP_POSTINC: T_RMW(std::uint8_t, 1, false)
T_OP_PREDEC: T_RMW(std::uint8_t, -1, true)
T_OP_POSTDEC: T_RMW(std::uint8_t, -1, false)
T_OP_PREINC16: T_RMW(std::uint16_t, 1, true)
T_OP_POSTINC16: T_RMW(std::uint16_t, 1, false)
T_OP_PREDEC16: T_RMW(std::uint16_t, -1, true)
T_OP_POSTDEC16: T_RMW(std::uint16_t, -1, false)
#undef T_RMW
T_OP_ZEROB_ABS: TLOAD(std::uint8_t, op->a, v, op->pc); zf = v == 0; TNEXT;
T_OP_ZEROW_ABS: TLOAD(std::uint16_t, op->a, v, op->pc); zf = v == 0; TNEXT;
T_OP_ZEROL_ABS: TLOAD(std::uint32_t, op->a, v, op->pc); zf = v == 0; TNEXT;
T_OP_ZEROB_FRAME: TLOAD(std::uint8_t, FRAME_AT(op->a), v, op->pc); zf = v == 0; TNEXT;
T_OP_ZEROW_FRAME: TLOAD(std::uint16_t, FRAME_AT(op->a), v, op->pc); zf = v == 0; TNEXT;
T_OP_ZEROL_FRAME: TLOAD(std::uint32_t, FRAME_AT(op->a), v, op->pc); zf = v == 0; TNEXT;
T_OP_CMP: COMPARE(RD, RS); TNEXT;
T_OP_CMP_IMM: COMPARE(RD, op->a); TNEXT;
T_OP_SET: RD = RS == 0; TNEXT;
T_OP_ADD: RD += RS; TNEXT;
T_OP_ADD_IMM: RD += op->a; TNEXT;
T_OP_SUB: v = RS; COMPARE(RD, v); RD -= v; TNEXT;
T_OP_SUB_IMM: COMPARE(RD, op->a); RD -= op->a; TNEXT;
T_OP_MUL: RD *= RS; TNEXT;
T_OP_DIV:
  if (RS == 0) TFAIL_AT(kErrDivideByZero, op->pc);
  if (RS == 0xFFFFFFFFu)
    RD = 0u - RD;
  else
    RD = static_cast<std::uint32_t>(static_cast<std::int32_t>(RD) / static_cast<std::int32_t>(RS));
  TNEXT;
T_OP_MOD:
  if (RS == 0) TFAIL_AT(kErrDivideByZero, op->pc);
  if (RS == 0xFFFFFFFFu)
    RD = 0;
  else
    RD = static_cast<std::uint32_t>(static_cast<std::int32_t>(RD) % static_cast<std::int32_t>(RS));
  TNEXT;
T_OP_SHL: RD <<= (RS & 31u); TNEXT;
T_OP_SHR: RD >>= (RS & 31u); TNEXT;
T_OP_SAR: RD = static_cast<std::uint32_t>(static_cast<std::int32_t>(RD) >> (RS & 31u)); TNEXT;
T_OP_NEG: RD = 0u - RS; TNEXT;
T_OP_NOT: RD = ~RS; TNEXT;
T_OP_AND: RD &= RS; TNEXT;
T_OP_OR: RD |= RS; TNEXT;
T_OP_XOR: RD ^= RS; TNEXT;
T_OP_JMP: pc = op->a; TGO(taken);
T_OP_JCC:
  if (mask_taken(op->mask, zf, lf, bf)) {
    pc = op->a;
    TGO(taken);
  }
  pc = op->pc;
  TGO(fall);
T_OP_FTOI: RD = float_to_int(as_float(RS)); TNEXT;
T_OP_ITOF: RD = float_bits(static_cast<float>(static_cast<std::int32_t>(RS))); TNEXT;
T_OP_FADD: RD = float_op(FloatOp::kAdd, RD, RS); TNEXT;
T_OP_FSUB: {
  const float x = as_float(RD), y = as_float(RS);
  zf = x == y;
  lf = x < y;
  bf = false;
  RD = float_op(FloatOp::kSub, RD, RS);
  TNEXT;
}
T_OP_FMUL: RD = float_op(FloatOp::kMul, RD, RS); TNEXT;
T_OP_FDIV: RD = float_op(FloatOp::kDiv, RD, RS); TNEXT;
T_OP_FMOD:
  RD = float_bits(static_cast<float>(
      std::fmod(static_cast<double>(as_float(RD)), static_cast<double>(as_float(RS)))));
  TNEXT;
T_OP_FNEG: RD = float_bits(-as_float(RS)); TNEXT;

  // ---- fused sequences ---------------------------------------------------------
  // Each has the effects of its instructions in order; an error in one of
  // them leaves pc just past that instruction.
T_LOAD2_SUB_JCC:
  // movl rA,[r6+a] (6); movl rB,[r6+b] (6); sub rB,rA (2); jcc c (5)
  TLOAD(std::uint32_t, FRAME_AT(op->a), RD, op->pc - 13);
  TLOAD(std::uint32_t, FRAME_AT(op->b), RS, op->pc - 7);
  v = RD;
  COMPARE(RS, v);
  RS -= v;
  if (mask_taken(op->mask, zf, lf, bf)) {
    pc = op->c;
    TGO(taken);
  }
  pc = op->pc;
  TGO(fall);
T_IMM_LOAD_SUB_JCC:
  RD = op->a;
  TLOAD(std::uint32_t, FRAME_AT(op->b), RS, op->pc - 7);
  v = RD;
  COMPARE(RS, v);
  RS -= v;
  if (mask_taken(op->mask, zf, lf, bf)) {
    pc = op->c;
    TGO(taken);
  }
  pc = op->pc;
  TGO(fall);
T_IMM_LOAD_SUB:
  RD = op->a;
  TLOAD(std::uint32_t, FRAME_AT(op->b), RS, op->pc - 2);
  v = RD;
  COMPARE(RS, v);
  RS -= v;
  TNEXT;
T_LOAD2_ADD:
  TLOAD(std::uint32_t, FRAME_AT(op->a), RD, op->pc - 8);
  TLOAD(std::uint32_t, FRAME_AT(op->b), RS, op->pc - 2);
  RS += RD;
  TNEXT;
T_LOAD_ADD:
  TLOAD(std::uint32_t, FRAME_AT(op->a), RD, op->pc - 2);
  RS += RD;
  TNEXT;
T_LEA_POSTOP:
  a = FRAME_AT(op->a);
  RD = a;
  TLOAD(std::uint32_t, a, v, op->pc);
  r[op->d2] = v;
  v += op->b;
  std::memcpy(base + a, &v, 4);
  CODE_CHECK(a);
  TNEXT;
T_IMM_STORE:
  RD = op->a;
  a = FRAME_AT(op->b);
  TSTORE(std::uint32_t, a, RD, op->pc);
  CODE_CHECK(a);
  TNEXT;
T_CALL_TRAP_RET:
  // call W; trap n; ret, with the pc and stack of each step.
  nsp = r[kRegStack] - 4;
  if (!STACK_OK(nsp)) TFAIL_AT(kErrStackOverflow, op->pc);
  r[kRegStack] = nsp;
  TSTORE(std::uint32_t, nsp, op->pc, op->pc);
  pc = op->a + 3;
  if (trap_handler) {
    std::memcpy(ctx->r, r, sizeof r);
    ctx->pc = pc;
    ctx->zero_flag = zf;
    ctx->less_flag = lf;
    ctx->below_flag = bf;
    if (trap_handler(static_cast<std::uint16_t>(op->b), ctx) != 0) return 1;
    std::memcpy(r, ctx->r, sizeof r);
    pc = ctx->pc;
    zf = ctx->zero_flag;
    lf = ctx->less_flag;
    bf = ctx->below_flag;
    if (ctx->state != kVmRunning) return 1;
    NOTE_HOST_WRITES;
    // The handler may have moved pc or rewritten the `ret`: then the image
    // decides what runs next.
    if (pc != op->a + 3 || base[pc] != OP_RET) {
      budget += 1;
      nb = nullptr;
      slot = &blk->fall;
      goto chain;
    }
  }
  nsp = r[kRegStack] + 4;
  if (!STACK_OK(nsp)) TFAIL_AT(kErrStackOverflow, op->a + 4);
  TLOAD(std::uint32_t, r[kRegStack], v, op->a + 4);
  r[kRegStack] = nsp;
  pc = v;
  if (pc == kReturnFinish) {
    ctx->state = kVmFinished;
    goto leave_slice;
  }
  TGO_VAR(fall);
#define T_LOAD2_ADD_FIRST                                      \
  TLOAD(std::uint32_t, FRAME_AT(op->a), RD, op->pc - 10);      \
  TLOAD(std::uint32_t, FRAME_AT(op->b), RS, op->pc - 4);       \
  RS += RD;                                                    \
  a = RS
T_LOAD2_ADD_LDB:
  T_LOAD2_ADD_FIRST;
  TLOAD(std::uint8_t, a, r[op->d2], op->pc);
  TNEXT;
T_LOAD2_ADD_LDSB:
  T_LOAD2_ADD_FIRST;
  TLOAD(std::int8_t, a, r[op->d2], op->pc);
  TNEXT;
T_LOAD2_ADD_LDL:
  T_LOAD2_ADD_FIRST;
  TLOAD(std::uint32_t, a, r[op->d2], op->pc);
  TNEXT;
T_LOAD2_ADD_STB:
  T_LOAD2_ADD_FIRST;
  TSTORE(std::uint8_t, a, r[op->d2], op->pc);
  CODE_CHECK(a);
  TNEXT;
T_LOAD2_ADD_STL:
  T_LOAD2_ADD_FIRST;
  TSTORE(std::uint32_t, a, r[op->d2], op->pc);
  CODE_CHECK(a);
  TNEXT;
#undef T_LOAD2_ADD_FIRST
T_ACC_FRAME:
  // movl rA,[r6+a] (6); add rA,rB (2); movl [r6+b],rA (6)
  TLOAD(std::uint32_t, FRAME_AT(op->a), RD, op->pc - 8);
  RD += RS;
  a = FRAME_AT(op->b);
  TSTORE(std::uint32_t, a, RD, op->pc);
  CODE_CHECK(a);
  TNEXT;
T_LOAD_ADD_DST:
  TLOAD(std::uint32_t, FRAME_AT(op->a), RD, op->pc - 2);
  RD += RS;
  TNEXT;
T_LOAD_MUL_DST:
  TLOAD(std::uint32_t, FRAME_AT(op->a), RD, op->pc - 2);
  RD *= RS;
  TNEXT;
T_LOAD_MUL_ADD_MUL:
  // Step by step, as any of the registers may be the same.
  TLOAD(std::uint32_t, FRAME_AT(op->a), RD, op->pc - 6);
  RD *= RS;
  RD += r[op->d2];
  RD *= r[op->c];
  TNEXT;
T_LOAD_MUL:
  TLOAD(std::uint32_t, FRAME_AT(op->a), RD, op->pc - 2);
  RS *= RD;
  TNEXT;
T_LOAD_ADD_LDL:
  // movl rA,[r6+a] (6); add rA,rB (2); movl rC,[rA] (2)
  TLOAD(std::uint32_t, FRAME_AT(op->a), RD, op->pc - 4);
  RD += RS;
  TLOAD(std::uint32_t, RD, r[op->d2], op->pc);
  TNEXT;
T_LOAD2:
  TLOAD(std::uint32_t, FRAME_AT(op->a), RD, op->pc - 6);
  TLOAD(std::uint32_t, FRAME_AT(op->b), RS, op->pc);
  TNEXT;
T_IMM_LOAD2:
  r[op->d2] = op->c;
  TLOAD(std::uint32_t, FRAME_AT(op->a), RD, op->pc - 6);
  TLOAD(std::uint32_t, FRAME_AT(op->b), RS, op->pc);
  TNEXT;
T_PUSH_XCHG_CALL:
  // push rP (ends op->b bytes before op->pc); xchg rD,rS; call a. When
  // both words fit the stack and script memory (and no guards are checked)
  // they are stored at once; otherwise step by step as the image does.
  nsp = r[kRegStack] - 8;
  if (STACK_OK(nsp) && STACK_OK(nsp + 4) && IN_SPACE(nsp, 8) && !guarded) [[likely]] {
    v = r[op->d2];
    std::memcpy(base + nsp + 4, &v, 4);
    v = RD;
    RD = RS;
    RS = v;
    std::memcpy(base + nsp, &op->pc, 4);
    r[kRegStack] = nsp;
    pc = op->a;
    TGO(taken);
  }
  nsp = r[kRegStack] - 4;
  if (!STACK_OK(nsp)) TFAIL_AT(kErrStackOverflow, op->pc - op->b);
  r[kRegStack] = nsp;
  TSTORE(std::uint32_t, nsp, r[op->d2], op->pc - op->b);
  v = RD;
  RD = RS;
  RS = v;
  goto T_OP_CALL;  // the call of the same op (its pc and target)
T_LEAVE_RET:
  // leave a (5); ret (1)
  if (static_cast<std::uint32_t>(r[kRegStack] + op->a + kFrameSaveBytes - stack) >= stack_size) {
    ctx->state = kVmFinished;
    pc = op->pc - 1;
    goto leave_slice;
  }
  a = r[kRegStack] + op->a;
  TCHECK(a, kFrameSaveBytes, op->pc - 1);
  RESTORE_FRAME(base + a);
  r[kRegStack] = a + kFrameSaveBytes;
  nsp = r[kRegStack] + 4;
  if (!STACK_OK(nsp)) TFAIL_AT(kErrStackOverflow, op->pc);
  TLOAD(std::uint32_t, r[kRegStack], v, op->pc);
  r[kRegStack] = nsp;
  pc = v;
  if (pc == kReturnFinish) {
    ctx->state = kVmFinished;
    goto leave_slice;
  }
  TGO_RET;
  // The same ops with their frame-slot accesses unchecked: used where the
  // block's frame window was found inside script memory on entry and r6 has
  // not changed since.
#define FLOAD_U(addr, out)                             \
  do {                                                 \
    std::uint32_t fv_;                                 \
    std::memcpy(&fv_, base + static_cast<Addr>(addr), 4); \
    out = fv_;                                         \
  } while (0)
#define FSTORE_U(addr, value)                          \
  do {                                                 \
    const std::uint32_t fv_ = (value);                 \
    std::memcpy(base + static_cast<Addr>(addr), &fv_, 4); \
  } while (0)
#define T_LOAD2_ADD_FIRST_U                  \
  FLOAD_U(FRAME_AT(op->a), RD);              \
  FLOAD_U(FRAME_AT(op->b), RS);              \
  RS += RD;                                  \
  a = RS
U_OP_MOVL_LOAD_FRAME: FLOAD_U(FRAME_AT(op->a), RD); TNEXT;
U_OP_MOVL_STORE_FRAME:
  a = FRAME_AT(op->a); FSTORE_U(a, RS); CODE_CHECK(a); TNEXT;
U_LOAD2_SUB_JCC:
  // movl rA,[r6+a] (6); movl rB,[r6+b] (6); sub rB,rA (2); jcc c (5)
  FLOAD_U(FRAME_AT(op->a), RD);
  FLOAD_U(FRAME_AT(op->b), RS);
  v = RD;
  COMPARE(RS, v);
  RS -= v;
  if (mask_taken(op->mask, zf, lf, bf)) {
    pc = op->c;
    TGO(taken);
  }
  pc = op->pc;
  TGO(fall);
U_IMM_LOAD_SUB_JCC:
  RD = op->a;
  FLOAD_U(FRAME_AT(op->b), RS);
  v = RD;
  COMPARE(RS, v);
  RS -= v;
  if (mask_taken(op->mask, zf, lf, bf)) {
    pc = op->c;
    TGO(taken);
  }
  pc = op->pc;
  TGO(fall);
U_IMM_LOAD_SUB:
  RD = op->a;
  FLOAD_U(FRAME_AT(op->b), RS);
  v = RD;
  COMPARE(RS, v);
  RS -= v;
  TNEXT;
U_LOAD2_ADD:
  FLOAD_U(FRAME_AT(op->a), RD);
  FLOAD_U(FRAME_AT(op->b), RS);
  RS += RD;
  TNEXT;
U_LOAD_ADD:
  FLOAD_U(FRAME_AT(op->a), RD);
  RS += RD;
  TNEXT;
U_LEA_POSTOP:
  a = FRAME_AT(op->a);
  RD = a;
  FLOAD_U(a, v);
  r[op->d2] = v;
  v += op->b;
  std::memcpy(base + a, &v, 4);
  CODE_CHECK(a);
  TNEXT;
U_IMM_STORE:
  RD = op->a;
  a = FRAME_AT(op->b);
  FSTORE_U(a, RD);
  CODE_CHECK(a);
  TNEXT;
U_LOAD2_ADD_LDB:
  T_LOAD2_ADD_FIRST_U;
  TLOAD(std::uint8_t, a, r[op->d2], op->pc);
  TNEXT;
U_LOAD2_ADD_LDSB:
  T_LOAD2_ADD_FIRST_U;
  TLOAD(std::int8_t, a, r[op->d2], op->pc);
  TNEXT;
U_LOAD2_ADD_LDL:
  T_LOAD2_ADD_FIRST_U;
  TLOAD(std::uint32_t, a, r[op->d2], op->pc);
  TNEXT;
U_LOAD2_ADD_STB:
  T_LOAD2_ADD_FIRST_U;
  TSTORE(std::uint8_t, a, r[op->d2], op->pc);
  CODE_CHECK(a);
  TNEXT;
U_LOAD2_ADD_STL:
  T_LOAD2_ADD_FIRST_U;
  TSTORE(std::uint32_t, a, r[op->d2], op->pc);
  CODE_CHECK(a);
  TNEXT;
U_ACC_FRAME:
  // movl rA,[r6+a] (6); add rA,rB (2); movl [r6+b],rA (6)
  FLOAD_U(FRAME_AT(op->a), RD);
  RD += RS;
  a = FRAME_AT(op->b);
  FSTORE_U(a, RD);
  CODE_CHECK(a);
  TNEXT;
U_LOAD_ADD_DST:
  FLOAD_U(FRAME_AT(op->a), RD);
  RD += RS;
  TNEXT;
U_LOAD_MUL_DST:
  FLOAD_U(FRAME_AT(op->a), RD);
  RD *= RS;
  TNEXT;
U_LOAD_MUL_ADD_MUL:
  FLOAD_U(FRAME_AT(op->a), RD);
  RD *= RS;
  RD += r[op->d2];
  RD *= r[op->c];
  TNEXT;
U_LOAD_MUL:
  FLOAD_U(FRAME_AT(op->a), RD);
  RS *= RD;
  TNEXT;
U_LOAD_ADD_LDL:
  // movl rA,[r6+a] (6); add rA,rB (2); movl rC,[rA] (2)
  FLOAD_U(FRAME_AT(op->a), RD);
  RD += RS;
  TLOAD(std::uint32_t, RD, r[op->d2], op->pc);
  TNEXT;
U_LOAD2:
  FLOAD_U(FRAME_AT(op->a), RD);
  FLOAD_U(FRAME_AT(op->b), RS);
  TNEXT;
U_IMM_LOAD2:
  r[op->d2] = op->c;
  FLOAD_U(FRAME_AT(op->a), RD);
  FLOAD_U(FRAME_AT(op->b), RS);
  TNEXT;
#undef FLOAD_U
#undef FSTORE_U
#undef T_LOAD2_ADD_FIRST_U
T_EXIT:
  pc = op->pc;
  TGO(fall);

#undef REFRESH_HULL
#undef TNEXT
#undef TFAIL_AT
#undef TCHECK
#undef TLOAD
#undef TSTORE
#undef CODE_CHECK
#undef RD
#undef RS
#undef FRAME_AT
#undef TGO

#else
block_dispatch:
  goto fetch;
#endif

// Every way out of the slice first hands the registers, pc and flags back to
// the context (and puts back a handler borrowed to stop a block early).
#define SAVE_STATE                                     \
  do {                                                 \
    if (stop_op) stop_op->handler = stop_saved;        \
    std::memcpy(ctx->r, r, sizeof r);                  \
    ctx->pc = pc;                                      \
    ctx->zero_flag = zf;                               \
    ctx->less_flag = lf;                               \
    ctx->below_flag = bf;                              \
  } while (0)
invalid_code:
  error = kErrInvalidCode;
runtime_error:
  SAVE_STATE;
  vm_raise(ctx, error);
  return 1;

invalid_address:
  SAVE_STATE;
  vm_raise(ctx, kErrInvalidAddress, bad);
  return 1;

guard_fault:
  SAVE_STATE;
  vm_raise_guard(ctx, bad, space.describe_guard_hit(bad, bad_len));
  return 1;

leave_slice:
  if (budget == 0 && ctx->state == kVmRunning && slice_hook &&
      !stop.load(std::memory_order_relaxed) && slice_hook(ctx)) {
    // The next slice, without leaving: only this context wants to run, so
    // no other script thread can have written code in between.
    if (stop_op) {
      stop_op->handler = stop_saved;
      stop_op = nullptr;
    }
    budget = kSliceLength;
    stepping = tr == nullptr;
    NOTE_HOST_WRITES;
    if (stepping) goto fetch;
    goto block_dispatch;
  }
  SAVE_STATE;
  return 1;
#undef SAVE_STATE
#undef NOTE_HOST_WRITES

#undef IN_SPACE
#undef SAVE_FRAME
#undef TGO_RET
#undef RESTORE_FRAME
#undef CHECK
#undef LOAD
#undef STORE
#undef GUARD
#undef TGUARD
#undef LOAD8
#undef LOAD16
#undef LOAD32
#undef STORE8
#undef STORE16
#undef STORE32
#undef REGS
#undef IMM1
#undef IMM2
#undef STACK_OK
#undef FAIL
#undef CASE
#undef DISPATCH
#undef NEXT
#undef COMPARE
}

}  // namespace talven::script
