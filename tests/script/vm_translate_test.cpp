// Pre-decoded execution: the same results as running every instruction from
// the image (registers, flags, pc and state after every slice, memory,
// messages), and never stale code after a script or a builtin rewrites it.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "base/address_space.h"
#include "base/config.h"
#include "base/messages.h"
#include "script/opcodes.h"
#include "script/vm.h"
#include "script/vm_asm.h"
#include "script/vm_translate.h"

namespace talven::script {
namespace {

// ---- the decoder ------------------------------------------------------------

TEST(VmTranslate, ConditionalJumpsFollowTheirTruthTable) {
  // Whether each conditional jump is taken, for flags f = zf | lf << 1 |
  // bf << 2 from 0 to 7: zf lf bf = 000 100 010 110 001 101 011 111.
  struct Row {
    Opcode op;
    const char* taken;
  };
  const Row table[] = {
      {OP_JE, "01010101"}, {OP_JNE, "10101010"}, {OP_JG, "10001000"}, {OP_JGE, "11011101"},
      {OP_JL, "00100010"}, {OP_JLE, "01110111"}, {OP_JA, "10100000"}, {OP_JAE, "11110101"},
      {OP_JB, "00001010"}, {OP_JBE, "01011111"},
  };
  for (const Row& row : table) {
    const std::uint8_t m = jump_mask(row.op);
    for (unsigned f = 0; f < 8; ++f) {
      const bool zf = f & 1u, lf = (f >> 1) & 1u, bf = (f >> 2) & 1u;
      const bool want = row.taken[f] == '1';
      EXPECT_EQ(jump_taken(row.op, zf, lf, bf), want) << kOpInfo[row.op].mnemonic << " flags " << f;
      EXPECT_EQ(mask_taken(m, zf, lf, bf), want) << kOpInfo[row.op].mnemonic << " flags " << f;
    }
  }
  EXPECT_EQ(jump_mask(OP_JMP), 0);
  EXPECT_EQ(jump_mask(OP_ADD), 0);
}

// The interpreter's six-byte decoder gives what the general one gives for
// every opcode byte and register byte: validity, length, registers and the
// immediate of each operand form.
TEST(VmTranslate, SixByteDecodeMatchesTheGeneralDecoder) {
  std::uint8_t bytes[6] = {0, 0, 0x81, 0x92, 0xA3, 0xB4};
  for (unsigned code = 0; code < 256; ++code) {
    for (unsigned rb = 0; rb < 256; ++rb) {
      bytes[0] = static_cast<std::uint8_t>(code);
      bytes[1] = static_cast<std::uint8_t>(rb);
      Insn general, fast;
      const bool ok = decode_instruction(bytes, 6, general);
      ASSERT_EQ(decode_instruction6(bytes, fast), ok) << code << " " << rb;
      if (!ok) continue;
      ASSERT_EQ(fast.op, general.op);
      ASSERT_EQ(fast.length, general.length) << code;
      ASSERT_EQ(fast.d, general.d) << code << " " << rb;
      ASSERT_EQ(fast.s, general.s) << code << " " << rb;
      ASSERT_EQ(fast.imm, general.imm) << code << " " << rb;
    }
  }
}

class TranslateBlocks : public ::testing::Test {
 protected:
  void SetUp() override {
    ctx_ = vm_create(512, 256);
    ASSERT_NE(ctx_, nullptr);
    t_ = translation_for(ctx_->program, ctx_->program_size);
    ASSERT_NE(t_, nullptr);
    for (auto& h : handlers_) h = &handlers_;
    for (auto& h : unchecked_) h = &unchecked_;
  }
  void TearDown() override {
    forget_translation(ctx_->program);
    vm_free(ctx_);
  }
  std::vector<std::uint8_t> kinds(const Block& b) const {
    std::vector<std::uint8_t> k;
    for (const TOp& op : b.ops) k.push_back(op.kind);
    return k;
  }
  Block* translate(Addr pc) {
    return translate_block(*t_, script_space().base(), pc, handlers_, unchecked_);
  }

  VmContext* ctx_ = nullptr;
  Translation* t_ = nullptr;
  const void* handlers_[BK_COUNT];
  const void* unchecked_[BK_COUNT];
};

TEST_F(TranslateBlocks, LoopTestAndBodyFuseAndTheBackJumpIsFollowed) {
  // The shape of `for (i = 0; i < n; i++) a[i] = i;` as the code generator
  // emits it.
  VmAsm a(ctx_->program);
  auto head = a.label(), done = a.label();
  a.bind(head);
  a.load_frame(0, -8);  // movl r0,[r6-8]    n
  a.load_frame(2, -4);  // movl r2,[r6-4]    i
  a.sub(2, 0);          // sub r2,r0
  a.jge(done);
  a.load_frame(1, -4);     // i
  a.load_frame(3, -12);    // a
  a.add(3, 1);             // a + i
  a.r(OP_MOVB_IND, 3, 1);  // movb [r3], r1
  a.ri(OP_LEA, 0, 0, static_cast<std::uint32_t>(-4));
  a.ri(OP_POSTOP, 0, 0, 1);  // i++
  a.jmp(head);
  a.bind(done);
  a.ret();
  ASSERT_TRUE(a.load());

  Block* body = translate(a.address(head) + 19);
  ASSERT_NE(body, nullptr);
  // Body, the followed jump, then the loop test again.
  EXPECT_EQ(kinds(*body),
            (std::vector<std::uint8_t>{BK_LOAD2_ADD_STB, BK_LEA_POSTOP, BK_LOAD2_SUB_JCC}));
  EXPECT_EQ(body->count, 4u + 2 + 1 + 4);
  EXPECT_EQ(body->segments.size(), 2u);
  EXPECT_EQ(body->ops[0].d2, 1);  // the stored register
  EXPECT_EQ(body->ops.back().c, a.address(done));
  EXPECT_EQ(body->ops.back().pc, a.address(head) + 19);
  // Ops know the original instructions still to come after them.
  EXPECT_EQ(body->ops[0].rest, body->count - 4);
  EXPECT_EQ(body->ops[1].rest, 5u);
  EXPECT_EQ(body->ops[2].rest, 0u);
  // Every frame slot lies in one window checked on entry: [r6-12, r6).
  for (const TOp& op : body->ops) EXPECT_EQ(op.handler, &unchecked_);
  EXPECT_EQ(body->frame_lo, -12);
  EXPECT_EQ(body->frame_len, 12u);
  EXPECT_TRUE(block_matches(*body, script_space().base()));
  // Translated bytes bound the range where stores may change code.
  EXPECT_EQ(t_->lo, ctx_->program);
  EXPECT_EQ(t_->hi, a.address(done));
  EXPECT_EQ(find_block(*t_, a.address(head) + 19), body);
}

TEST_F(TranslateBlocks, FrameSlotsAfterAChangeOfR6StayChecked) {
  VmAsm a(ctx_->program);
  a.load_frame(1, 8);
  a.load_frame(6, -4);  // r6 changes here (its own load still uses the old r6)
  a.load_frame(2, 100);
  a.ri(OP_LEA, 3, 3, 0x20000);  // far slots are never in the window
  a.ri(OP_POSTOP, 3, 3, 1);
  a.ret();
  ASSERT_TRUE(a.load());
  Block* b = translate(ctx_->program);
  ASSERT_NE(b, nullptr);
  ASSERT_EQ(b->ops.size(), 4u);  // load2 (r1, r6), load r2, lea + postop, ret
  EXPECT_EQ(b->ops[0].kind, BK_LOAD2);
  EXPECT_EQ(b->ops[0].handler, &handlers_);  // names r6
  EXPECT_EQ(b->ops[1].handler, &handlers_);
  EXPECT_EQ(b->ops[2].handler, &handlers_);
  EXPECT_EQ(b->frame_len, 0u);

  VmAsm far(ctx_->program);
  far.ri(OP_LEA, 3, 3, 0x20000);
  far.ri(OP_POSTOP, 3, 3, 1);
  far.load_frame(1, 8);
  far.ret();
  ASSERT_TRUE(far.load());
  b = translate_block(*t_, script_space().base(), ctx_->program, handlers_, unchecked_, b);
  ASSERT_NE(b, nullptr);
  ASSERT_EQ(b->ops.size(), 3u);
  EXPECT_EQ(b->ops[0].handler, &handlers_);   // lea + postop 128 KiB away
  EXPECT_EQ(b->ops[1].handler, &unchecked_);  // movl r1,[r6+8]
  EXPECT_EQ(b->frame_lo, 8);
  EXPECT_EQ(b->frame_len, 4u);
}

TEST_F(TranslateBlocks, ChangedBytesAreNoticedAnywhereInTheBlock) {
  VmAsm a(ctx_->program);
  for (int i = 0; i < 20; ++i) a.addi(1, i);
  a.ret();
  ASSERT_TRUE(a.load());
  Block* b = translate(ctx_->program);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->count, 21u);
  std::uint8_t* code = span(ctx_->program, 121);
  for (int at : {0, 5, 7, 64, 113, 120}) {
    code[at] ^= 0x40;
    EXPECT_FALSE(block_matches(*b, script_space().base())) << at;
    code[at] ^= 0x40;
    EXPECT_TRUE(block_matches(*b, script_space().base())) << at;
  }
}

TEST_F(TranslateBlocks, BadCodeAndTheAreaEndAreLeftToTheImage) {
  std::uint8_t* code = span(ctx_->program, 512);
  code[0] = 200;  // invalid opcode
  code[1] = OP_MOVL_RR;
  code[2] = 0x09;  // register nibble 9
  code[3] = OP_NOP;
  code[4] = OP_NOP;
  code[5] = 200;
  code[509] = OP_ADD_IMM;
  code[510] = 0x11;  // runs past the area end
  Block* b = translate(ctx_->program);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->count, 0u);
  EXPECT_EQ(translate(ctx_->program + 1)->count, 0u);
  Block* nops = translate(ctx_->program + 3);
  EXPECT_EQ(nops->count, 2u);
  EXPECT_EQ(kinds(*nops), (std::vector<std::uint8_t>{OP_NOP, OP_NOP, BK_EXIT}));
  EXPECT_EQ(nops->ops.back().pc, ctx_->program + 5);
  EXPECT_EQ(translate(ctx_->program + 509)->count, 0u);
  EXPECT_EQ(translate(ctx_->program + 512), nullptr);  // outside the area
}

TEST_F(TranslateBlocks, BuiltinWrapperCallsBecomeOneOp) {
  VmAsm a(ctx_->program);
  auto wrapper = a.label();
  a.push(1);
  a.call(wrapper);
  a.drop_args(1);
  a.ret();
  a.bind(wrapper);
  a.trap(42);
  a.ret();
  ASSERT_TRUE(a.load());
  Block* b = translate(ctx_->program);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(kinds(*b), (std::vector<std::uint8_t>{OP_PUSH, BK_CALL_TRAP_RET}));
  EXPECT_EQ(b->count, 4u);
  EXPECT_EQ(b->ops[1].a, a.address(wrapper));
  EXPECT_EQ(b->ops[1].b, 42u);
  // The wrapper's bytes are checked with the block's.
  span(a.address(wrapper), 1)[1] = 43;
  EXPECT_FALSE(block_matches(*b, script_space().base()));
}

// ---- the same results either way ----------------------------------------------

// A builtin stand-in: the number picks what it does. Some copy words the
// way memcpy does (into code too), one ends the slice, one changes r0.
int test_trap(std::uint16_t n, VmContext* c) {
  const Addr sp = c->r[kRegStack];
  switch (n % 4) {
    case 0: c->r[0] = c->r[1] * 3 + n; return 0;
    case 1: {
      // memcpy(dst = r2 within the program, src = stack top, 4)
      const Addr dst = c->program + (c->r[2] % (c->program_size - 4));
      std::uint32_t v = 0;
      load32(sp, v);
      store32(dst, v ^ c->r[3]);
      return 0;
    }
    case 2: return 1;
    default: c->r[0] ^= 0x5A5A; return 0;
  }
}

// The context and all of script memory: a random program may store
// anywhere in it.
struct Snapshot {
  VmContext record;
  std::vector<std::uint8_t> memory, program;
};

Snapshot take(const VmContext* c) {
  Snapshot s;
  std::memcpy(&s.record, c, sizeof s.record);
  const auto size = static_cast<std::size_t>(script_space().limit() - kLowLimit);
  const std::uint8_t* m = span(kLowLimit, size);
  s.memory.assign(m, m + size);
  const std::uint8_t* p = span(c->program, c->program_size + 4);
  s.program.assign(p, p + c->program_size + 4);
  return s;
}

void restore(VmContext* c, const Snapshot& s) {
  std::memcpy(c, &s.record, sizeof s.record);
  std::memcpy(span(kLowLimit, s.memory.size()), s.memory.data(), s.memory.size());
}

// The context record as text, for readable differences.
std::string describe(const std::vector<std::uint8_t>& rec) {
  VmContext c;
  std::memcpy(&c, rec.data(), sizeof c);
  std::string s = "state " + std::to_string(c.state) + " flags " + std::to_string(c.zero_flag) +
                  std::to_string(c.less_flag) + std::to_string(c.below_flag) + " pc " +
                  std::to_string(c.pc) + " r";
  for (std::uint32_t v : c.r) s += " " + std::to_string(v);
  return s;
}

struct Trace {
  std::vector<std::vector<std::uint8_t>> records;  // the context after each slice
  Snapshot end;
  std::vector<std::string> messages;
};

Trace run_traced(VmContext* c, std::vector<std::string>& sink, int slices) {
  Trace t;
  sink.clear();
  vm_stop_flag.clear();
  for (int i = 0; i < slices && c->state == kVmRunning && !vm_stop_flag.is_set(); ++i) {
    vm_run(c);
    const auto* rec = reinterpret_cast<const std::uint8_t*>(c);
    t.records.emplace_back(rec, rec + sizeof(VmContext));
  }
  t.end = take(c);
  t.messages = sink;
  return t;
}

// Random programs made mostly of what the code generator emits (frame
// loads and stores, compare-and-jump loops, indexing, builtin calls, stores
// into the program's own code), with random bytes here and there.
void random_program(std::mt19937& rng, VmContext* c) {
  const Addr prog = c->program;
  const std::uint32_t size = c->program_size;
  VmAsm a(prog);
  std::vector<Addr> starts;
  auto reg = [&] { return rng() % 16 == 0 ? rng() % 8 : rng() % 6; };
  auto disp = [&] { return static_cast<std::uint32_t>(-4 * static_cast<int>(1 + rng() % 12)); };
  auto target = [&] { return prog + (rng() % 32 == 0 ? rng() % size : 0); };
  const Addr wrapper = prog + size - 16;  // "trap n; ret" placed at the end
  while (a.here() < prog + size - 48) {
    starts.push_back(a.here());
    unsigned x = rng() % 40;
    if (x >= 34) x = rng() % 9;
    const unsigned r1 = reg(), r2 = reg();
    switch (x) {
      case 0: a.load_frame(r1, static_cast<std::int32_t>(disp())); break;
      case 1: a.store_frame(static_cast<std::int32_t>(disp()), r1); break;
      case 2:
        a.load_frame(r1, static_cast<std::int32_t>(disp()));
        a.load_frame(r2, static_cast<std::int32_t>(disp()));
        a.sub(r2, r1);
        a.i(static_cast<Opcode>(OP_JE + rng() % 10), target());
        break;
      case 3:
        a.movi(r1, rng() % 50);
        a.load_frame(r2, static_cast<std::int32_t>(disp()));
        a.sub(r2, r1);
        if (rng() % 2) a.i(static_cast<Opcode>(OP_JE + rng() % 10), target());
        break;
      case 4:
        a.load_frame(r1, static_cast<std::int32_t>(disp()));
        a.load_frame(r2, static_cast<std::int32_t>(disp()));
        a.add(r2, r1);
        break;
      case 5:
        a.load_frame(r1, static_cast<std::int32_t>(disp()));
        a.add(r2, r1);
        break;
      case 6:
        a.ri(OP_LEA, r1, r1, disp());
        a.ri(OP_POSTOP, r2, r1, rng() % 3);
        break;
      case 7:
        a.movi(r1, rng());
        a.store_frame(static_cast<std::int32_t>(disp()), r1);
        break;
      case 8: a.r(static_cast<Opcode>(OP_ADD + rng() % 15), r1, r2); break;
      case 9:
        if (rng() % 4) a.ri(OP_LEA, r2, r2, disp());
        a.r(static_cast<Opcode>(OP_MOVBL_IND + rng() % 5), r1, r2);
        break;
      case 10:
        if (rng() % 4) a.ri(OP_LEA, r1, r1, disp());
        a.r(static_cast<Opcode>(OP_MOVB_IND + rng() % 3), r1, r2);
        break;
      case 11: a.i(OP_JMP, target()); break;
      case 12: a.i(static_cast<Opcode>(OP_JE + rng() % 10), target()); break;
      case 13:
        a.push(r1);
        a.call(wrapper + (rng() % 2) * 4);
        a.drop_args(1);
        break;
      // A store into the program's own code, absolute or through a register.
      case 14: a.ri(OP_MOVB_ABS, 0, r1, prog + rng() % (size - 16)); break;
      case 15:
        a.movi(r1, prog + rng() % (size - 16));
        a.r(OP_MOVL_STORE_IND, r1, r2);
        break;
      case 16: a.ri1(OP_CMP_IMM, r1, rng() % 8); break;
      case 17: a.ri1(OP_SUB_IMM, r1, 1); break;
      case 18: a.ri1(OP_ADD_IMM, r1, rng() % 9); break;
      case 19:
        a.push(r1);
        a.pop(r2);
        break;
      case 20: a.enter(rng() % 16); break;
      case 21: a.leave(rng() % 16); break;
      case 22: a.byte(static_cast<std::uint8_t>(rng())); break;
      // Frame loads feeding an add or mul, an indexed load or store, an
      // accumulation into a local.
      case 24: {
        const unsigned r3 = reg();
        a.load_frame(r1, static_cast<std::int32_t>(disp()));
        a.load_frame(r2, static_cast<std::int32_t>(disp()));
        a.add(r2, r1);
        const unsigned m = rng() % 5;
        if (m < 3) a.r(m == 0 ? OP_MOVBL_IND : m == 1 ? OP_MOVSBL_IND : OP_MOVL_LOAD_IND, r3, r2);
        else a.r(m == 3 ? OP_MOVB_IND : OP_MOVL_STORE_IND, r2, r3);
        break;
      }
      case 25: {
        const std::int32_t d1 = static_cast<std::int32_t>(disp());
        a.load_frame(r1, d1);
        a.add(r1, r2);
        a.store_frame(rng() % 2 ? d1 : static_cast<std::int32_t>(disp()), r1);
        break;
      }
      case 26:
        a.load_frame(r1, static_cast<std::int32_t>(disp()));
        if (rng() % 2) a.r(rng() % 2 ? OP_ADD : OP_MUL, r1, r2);
        else a.r(rng() % 2 ? OP_ADD : OP_MUL, r2, r1);
        break;
      case 27:
        a.load_frame(r1, static_cast<std::int32_t>(disp()));
        a.add(r1, r2);
        a.load(reg(), r1);
        break;
      // Floats on chosen values (NaN, infinities and huge ones among them),
      // byte and word increments, calls through registers.
      case 30: {
        static const std::uint32_t values[] = {0x3F800000u, 0xC0490FDBu, 0x7FC00000u, 0x7F800000u,
                                               0xFF800000u, 0x4F000000u, 0xCF000001u, 0x00000001u,
                                               0x80000000u, 0x5F800000u};
        a.movi(r1, values[rng() % 10]);
        a.movi(r2, rng() % 3 ? values[rng() % 10] : rng());
        a.r(static_cast<Opcode>(OP_FTOI + rng() % 8), r1, r2);
        if (rng() % 2) a.i(static_cast<Opcode>(OP_JE + rng() % 10), target());
        break;
      }
      case 31:
        if (rng() % 4) a.ri(OP_LEA, r2, r2, disp());
        a.r(static_cast<Opcode>(OP_PREINC + rng() % 8), r1, r2);
        break;
      case 32:
        a.movi(r1, rng() % 8 ? starts[rng() % starts.size()] : rng() % 2 ? 0 : prog + rng() % size);
        a.r(OP_CALL_REG, r1, r1);
        break;
      case 33:
        a.movi(r1, rng());
        a.r(static_cast<Opcode>(rng() % 2 ? OP_DIV : OP_MOD), r2, r1);
        break;
      case 28:
        a.leave(rng() % 16);
        a.ret();
        break;
      case 29: a.ret(); break;
      default: a.i(OP_CALL, starts[rng() % starts.size()]); break;
    }
  }
  ASSERT_TRUE(a.load());
  // Fix jump targets that were left at the program start: point them at
  // instruction starts, mostly backwards (loops).
  std::uint8_t* code = span(prog, size);
  for (Addr at = prog; at + 5 <= prog + size - 48;) {
    const std::uint8_t op = code[at - prog];
    if (op >= OP_JMP && op <= OP_JBE && get_u32(code + (at - prog) + 1) == prog) {
      put_u32(code + (at - prog) + 1, starts[rng() % starts.size()]);
    }
    at += static_cast<Addr>(op_length(op));
  }
  // The builtin wrappers: trap n; ret / trap n+1; ret.
  const std::uint16_t n = static_cast<std::uint16_t>(rng() % 4);
  std::uint8_t* w = code + (wrapper - prog);
  encode_trap(w, n);
  w[3] = OP_RET;
  encode_trap(w + 4, static_cast<std::uint16_t>(n + 1));
  w[7] = OP_RET;
  for (int r = 0; r < 6; ++r) {
    const unsigned k = rng() % 4;
    c->r[r] = k == 0 ? rng() % 64 : k == 1 ? prog + rng() % size : c->stack + rng() % c->stack_size;
  }
  c->r[kRegFrame] = c->stack + c->stack_size / 2;
  c->r[kRegStack] = c->stack + c->stack_size / 2 - 64;
  c->pc = starts[rng() % starts.size()];
}

class VmTranslateSame : public ::testing::Test {
 protected:
  void SetUp() override {
    old_sink_ = set_message_sink([this](unsigned, const std::string& text) {
      messages_.push_back(text);
      return kMessageOk;
    });
    saved_ = config();
    config().Error = 1;
    vm_set_trap_handler(test_trap);
  }
  void TearDown() override {
    set_translation_enabled(true);
    set_native_enabled(true);
    vm_set_trap_handler(nullptr);
    vm_stop_flag.clear();
    config() = saved_;
    set_message_sink(old_sink_);
  }
  std::vector<std::string> messages_;
  MessageSink old_sink_;
  Config saved_;
};

TEST_F(VmTranslateSame, RandomProgramsGiveTheSameStatesAsTheImage) {
  std::mt19937 rng(2026);
  int compared_slices = 0, code_changed = 0;
  const std::size_t native_before = native_blocks_made();
  for (int program = 0; program < 1200; ++program) {
    VmContext* c = vm_create(1024, 1024);
    ASSERT_NE(c, nullptr);
    random_program(rng, c);
    const Snapshot start = take(c);
    set_translation_enabled(false);
    const Trace image = run_traced(c, messages_, 60);
    restore(c, start);
    set_translation_enabled(true);
    // Blocks run by the interpreter, then by machine code where it can.
    for (const bool native : {false, true}) {
      restore(c, start);
      set_native_enabled(native);
      const Trace blocks = run_traced(c, messages_, 60);
      ASSERT_EQ(image.records.size(), blocks.records.size())
          << "program " << program << " native " << native;
      for (std::size_t i = 0; i < image.records.size(); ++i) {
        ASSERT_EQ(describe(image.records[i]), describe(blocks.records[i]))
            << "program " << program << " slice " << i << " native " << native;
      }
      ASSERT_TRUE(image.end.memory == blocks.end.memory)
          << "program " << program << " native " << native;
      ASSERT_EQ(image.messages, blocks.messages) << "program " << program << " native " << native;
    }
    compared_slices += static_cast<int>(image.records.size());
    if (image.end.program != start.program) ++code_changed;
    vm_free(c);
  }
  // The programs must really run for a while and rewrite their code.
  EXPECT_GT(compared_slices, 2000);
  EXPECT_GT(code_changed, 100) << compared_slices;
  // and much of the code must have run as machine code.
  if (native_available()) {
    EXPECT_GT(native_blocks_made() - native_before, 2000u);
  }
}

// ---- code rewritten while it runs -----------------------------------------------

class VmSelfModifying : public VmTranslateSame {
 protected:
  void SetUp() override {
    VmTranslateSame::SetUp();
    ctx_ = vm_create(4096, 4096);
    ASSERT_NE(ctx_, nullptr);
    ctx_->r[kRegStack] = ctx_->stack + 4096 - 8;
    ASSERT_TRUE(store32(ctx_->r[kRegStack], kReturnFinish));
  }
  void TearDown() override {
    vm_free(ctx_);
    VmTranslateSame::TearDown();
  }
  // The kind of the first op the program's first block is made of.
  std::uint8_t first_kind() {
    Translation* t = translation_for(ctx_->program, ctx_->program_size);
    const void* handlers[BK_COUNT] = {};
    Block* b = translate_block(*t, script_space().base(), ctx_->program, handlers, handlers);
    const std::uint8_t kind = b && !b->ops.empty() ? b->ops[0].kind : 0xFF;
    forget_translation(ctx_->program);
    return kind;
  }
  void run_to_end() {
    vm_stop_flag.clear();
    for (int i = 0; i < 100000 && ctx_->state == kVmRunning && !vm_stop_flag.is_set(); ++i)
      vm_run(ctx_);
  }
  VmContext* ctx_ = nullptr;
};

TEST_F(VmSelfModifying, AStoreIntoTheRunningLoopTakesEffectAtOnce) {
  // Each pass adds the immediate of `movl r1, imm` and then stores imm + 1
  // into that instruction: sum 0 + 1 + ... + 999. A block that kept the old
  // immediate would add 0 every time.
  VmAsm a(ctx_->program);
  auto loop = a.label(), imm = a.label();
  a.movi(3, 1000);
  a.movi(2, 0);
  a.bind(loop);
  a.r(OP_MOVL_IMM, 1, 1);
  a.bind(imm);
  a.word(0);
  a.add(2, 1);
  a.addi(1, 1);
  a.ri(OP_MOVL_STORE_ABS, 0, 1, 0);
  const Addr patch_store = a.here() - 4;
  a.subi(3, 1);
  a.jne(loop);
  // The next instruction is rewritten just before it runs: r4 = 7, not 5.
  a.movi(0, 7);
  a.ri(OP_MOVL_STORE_ABS, 0, 0, 0);
  const Addr patch_next = a.here() - 4;
  a.movi(4, 5);
  const Addr imm45 = a.here() - 4;
  a.mov(0, 2);
  a.ret();
  ASSERT_TRUE(a.load());
  ASSERT_TRUE(store32(patch_store, a.address(imm)));
  ASSERT_TRUE(store32(patch_next, imm45));
  ctx_->pc = ctx_->program;
  run_to_end();
  EXPECT_EQ(ctx_->state, kVmFinished) << (messages_.empty() ? "" : messages_[0]);
  EXPECT_EQ(ctx_->r[0], 999u * 1000u / 2u);
  EXPECT_EQ(ctx_->r[4], 7u);
}

// The builtin memcpy(dst, src, n), argument words at r7 + 4 upwards.
int memcpy_trap(std::uint16_t, VmContext* c) {
  std::uint32_t dst = 0, src = 0, n = 0;
  const Addr sp = c->r[kRegStack];
  if (!load32(sp + 4, dst) || !load32(sp + 8, src) || !load32(sp + 12, n)) return 0;
  std::uint8_t* d = span(dst, n);
  const std::uint8_t* s = span(src, n);
  if (d && s) std::memmove(d, s, n);
  c->r[0] = dst;
  return 0;
}

TEST_F(VmSelfModifying, ABuiltinCopyIntoCodeIsSeenByTheNextRun) {
  // f() returns the immediate of its `movl r0, imm`; between calls the
  // script copies a new immediate over it with the memcpy builtin.
  vm_set_trap_handler(memcpy_trap);
  VmAsm a(ctx_->program);
  auto f = a.label(), memcpy_fn = a.label(), value = a.label(), fimm = a.label();
  a.movi(2, 0);
  a.movi(3, 0);
  auto loop = a.label();
  a.bind(loop);
  a.call(f);  // r2 += f()
  a.add(2, 0);
  a.addi(3, 1);  // value = r3 * 10
  a.mov(1, 3);
  a.ri1(OP_MOVL_IMM, 4, 10);
  a.r(OP_MUL, 1, 4);
  a.mova(4, value);
  a.store(4, 1);
  a.push_imm(4);  // memcpy(&f's immediate, &value, 4)
  a.push(4);
  a.mova(4, fimm);
  a.push(4);
  a.call(memcpy_fn);
  a.drop_args(3);
  a.ri1(OP_CMP_IMM, 3, 50);
  a.jne(loop);
  a.mov(0, 2);
  a.ret();
  a.bind(f);
  a.r(OP_MOVL_IMM, 0, 0);
  a.bind(fimm);
  a.word(0);
  a.ret();
  a.bind(memcpy_fn);
  a.trap(7);
  a.ret();
  a.bind(value);
  a.word(0);
  ASSERT_TRUE(a.load());
  ctx_->pc = ctx_->program;
  run_to_end();
  EXPECT_EQ(ctx_->state, kVmFinished) << (messages_.empty() ? "" : messages_[0]);
  // f() gave 0, 10, 20, ..., 490.
  EXPECT_EQ(ctx_->r[0], 10u * 49u * 50u / 2u);
}

TEST_F(VmSelfModifying, ErrorsInsideFusedOpsLeavePcAtTheFailingInstruction) {
  // movl r0,[r6+a] with r6 pointing nowhere: the first load of the fused
  // loop test fails, and pc is just past it, as in the image.
  VmAsm a(ctx_->program);
  auto end = a.label();
  a.load_frame(0, 0);
  a.load_frame(2, 4);
  a.sub(2, 0);
  a.je(end);
  a.bind(end);
  a.ret();
  ASSERT_TRUE(a.load());
  ctx_->pc = ctx_->program;
  ctx_->r[kRegFrame] = 0x100;  // below the first valid address
  run_to_end();
  EXPECT_EQ(ctx_->state, kVmError);
  EXPECT_EQ(ctx_->pc, ctx_->program + 6);
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_EQ(messages_[0], "Invalid address error - 0x00000100");
}

TEST_F(VmSelfModifying, ACallWithItsArgumentInARegisterRunsAndFailsAsStepped) {
  // push r2; xchg r0,r2; call f, where f returns its argument plus r0:
  // run once with room on the stack, then with none.
  VmAsm a(ctx_->program);
  auto callee = a.label();
  a.push(2);
  a.r(OP_XCHG, 0, 2);
  a.call(callee);
  a.drop_args(1);
  a.ret();
  a.bind(callee);
  a.r(OP_MOVL_LOAD_IND, 1, kRegStack);  // the return address
  a.addi(kRegStack, 4);
  a.r(OP_MOVL_LOAD_IND, 3, kRegStack);  // the argument
  a.addi(kRegStack, static_cast<std::uint32_t>(-4));
  a.add(0, 3);
  a.ret();
  ASSERT_TRUE(a.load());
  EXPECT_EQ(first_kind(), BK_PUSH_XCHG_CALL);
  const Addr top = ctx_->r[kRegStack];
  ctx_->pc = ctx_->program;
  ctx_->r[0] = 7;
  ctx_->r[2] = 9;
  run_to_end();
  EXPECT_EQ(ctx_->state, kVmFinished);
  EXPECT_EQ(ctx_->r[0], 9u + 9u);  // r0 got 9 from the exchange, then the argument 9
  EXPECT_EQ(ctx_->r[2], 7u);
  EXPECT_EQ(ctx_->r[kRegStack], top + 4);

  ctx_->state = kVmRunning;
  ctx_->pc = ctx_->program;
  ctx_->r[kRegStack] = ctx_->stack + 2;
  ctx_->r[0] = 7;
  run_to_end();
  EXPECT_EQ(ctx_->state, kVmError);
  EXPECT_EQ(ctx_->pc, ctx_->program + 2);  // just past the push, as in the image
  EXPECT_EQ(ctx_->r[0], 7u);
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_EQ(messages_[0], "Stack overflow error.");
}

TEST_F(VmSelfModifying, AnIndexScaledFromAFrameSlotIsOneOpWithAliasedRegisters) {
  // movl r1,[r6-4]; mul r1,r1; add r1,r2; mul r1,r3: (x * x + r2) * r3,
  // with the multiplier the loaded register itself.
  VmAsm a(ctx_->program);
  a.load_frame(1, static_cast<std::uint32_t>(-4));
  a.r(OP_MUL, 1, 1);
  a.add(1, 2);
  a.r(OP_MUL, 1, 3);
  a.ret();
  ASSERT_TRUE(a.load());
  EXPECT_EQ(first_kind(), BK_LOAD_MUL_ADD_MUL);

  ctx_->r[kRegFrame] = ctx_->r[kRegStack] - 16;
  ASSERT_TRUE(store32(ctx_->r[kRegFrame] - 4, 7));
  ctx_->pc = ctx_->program;
  ctx_->r[2] = 5;
  ctx_->r[3] = 4;
  run_to_end();
  EXPECT_EQ(ctx_->state, kVmFinished);
  EXPECT_EQ(ctx_->r[1], (7u * 7u + 5u) * 4u);

  // A frame that is not there fails at the load, with pc just past it.
  ctx_->state = kVmRunning;
  ctx_->pc = ctx_->program;
  ctx_->r[kRegFrame] = 0x100;
  run_to_end();
  EXPECT_EQ(ctx_->state, kVmError);
  EXPECT_EQ(ctx_->pc, ctx_->program + 6);
}

TEST_F(VmSelfModifying, AnImmediateAndTwoFrameLoadsAreOneOpInTheirOrder) {
  // movl r1,9; movl r1,[r6-4]; movl r3,[r6-8]: the load replaces the
  // immediate, as stepping does.
  VmAsm a(ctx_->program);
  a.movi(1, 9);
  a.load_frame(1, -4);
  a.load_frame(3, -8);
  a.ret();
  ASSERT_TRUE(a.load());
  EXPECT_EQ(first_kind(), BK_IMM_LOAD2);
  ctx_->r[kRegFrame] = ctx_->r[kRegStack] - 16;
  ASSERT_TRUE(store32(ctx_->r[kRegFrame] - 4, 70));
  ASSERT_TRUE(store32(ctx_->r[kRegFrame] - 8, 80));
  ctx_->pc = ctx_->program;
  run_to_end();
  EXPECT_EQ(ctx_->state, kVmFinished);
  EXPECT_EQ(ctx_->r[1], 70u);
  EXPECT_EQ(ctx_->r[3], 80u);
}

TEST_F(VmSelfModifying, CodeOutsideTheProgramAreaRunsFromTheImageBetweenBlocks) {
  // The loop in the program calls g, which lies in memory of its own and so
  // runs one instruction at a time from the image (with a loop of its own);
  // g rewrites the immediate the program loads right after the call, so the
  // block there must be rebuilt each time: r5 = 3 + 2 + 1.
  const Addr g_at = script_zalloc(64);
  ASSERT_NE(g_at, 0u);
  VmAsm a(ctx_->program);
  auto loop = a.label(), imm = a.label();
  a.movi(5, 0);
  a.movi(3, 3);
  a.bind(loop);
  a.call(g_at);
  a.r(OP_MOVL_IMM, 4, 4);
  a.bind(imm);
  a.word(0);
  a.add(5, 4);
  a.subi(3, 1);
  a.jne(loop);
  a.ret();
  ASSERT_TRUE(a.load());
  VmAsm g(g_at);
  auto spin = g.label();
  g.movi(2, 4);
  g.bind(spin);
  g.subi(2, 1);
  g.jne(spin);
  g.ri(OP_MOVL_STORE_ABS, 0, 3, a.address(imm));
  g.ret();
  const Addr g_end = g.here();
  ASSERT_TRUE(g.load());
  const Addr top = ctx_->r[kRegStack];
  for (const bool translated : {true, false}) {
    set_translation_enabled(translated);
    ASSERT_TRUE(store32(a.address(imm), 0));
    ctx_->state = kVmRunning;
    ctx_->pc = ctx_->program;
    ctx_->r[kRegStack] = top;
    run_to_end();
    EXPECT_EQ(ctx_->state, kVmFinished) << translated;
    EXPECT_EQ(ctx_->r[5], 6u) << translated;
  }
  set_translation_enabled(true);

  // Invalid code there stops with pc just past it: the whole instruction
  // for a bad register byte, one byte for a bad opcode.
  const std::uint8_t bad_register[] = {OP_ADD, 0x98};
  const std::uint8_t bad_opcode[] = {static_cast<std::uint8_t>(kOpcodeCount)};
  for (const auto& [bytes, length] : {std::pair{bad_register, 2u}, std::pair{bad_opcode, 1u}}) {
    std::memcpy(span(g_end, length), bytes, length);
    ASSERT_TRUE(store8(g_end - 1, OP_NOP));  // g's ret: g runs on into them
    messages_.clear();
    ctx_->state = kVmRunning;
    ctx_->pc = ctx_->program;
    ctx_->r[kRegStack] = top;
    run_to_end();
    EXPECT_EQ(ctx_->state, kVmError);
    EXPECT_EQ(ctx_->pc, g_end + length);
    ASSERT_EQ(messages_.size(), 1u);
    EXPECT_EQ(messages_[0], "Invalid code error");
  }
  script_free(g_at);
}

// ---- machine code -----------------------------------------------------------

// Machine code for blocks: the interpreter's results and errors, and the
// code really used.
class VmNative : public VmSelfModifying {
 protected:
  void TearDown() override {
    vm_set_slice_hook(nullptr);
    VmSelfModifying::TearDown();
  }
  // Runs the program from its start until it ends: result, state, pc and
  // the messages, as one string.
  std::string run(bool native) {
    set_native_enabled(native);
    forget_all_translations();
    messages_.clear();
    ctx_->state = kVmRunning;
    ctx_->pc = ctx_->program;
    ctx_->r[kRegStack] = ctx_->stack + 4096 - 8;
    EXPECT_TRUE(store32(ctx_->r[kRegStack], kReturnFinish));
    run_to_end();
    std::string out = "state " + std::to_string(ctx_->state) + " pc " + std::to_string(ctx_->pc) +
                      " r0 " + std::to_string(ctx_->r[0]);
    for (const std::string& m : messages_) out += " | " + m;
    return out;
  }
};

// sum of i * 3 for i < n, through a called function with a frame.
void sum_program(VmAsm& a, std::uint32_t n) {
  auto f = a.label(), loop = a.label(), done = a.label();
  a.movi(0, 0);
  a.movi(1, 0);
  a.bind(loop);
  a.cmpi(1, n);
  a.jge(done);
  a.push(1);
  a.push(0);
  a.call(f);
  a.drop_args(2);
  a.addi(1, 1);
  a.jmp(loop);
  a.bind(done);
  a.ret();
  // f(acc, i) = acc + i * 3
  a.bind(f);
  a.enter(4);
  a.load_frame(2, 12);
  a.movi(3, 3);
  a.r(OP_MUL, 2, 3);
  a.load_frame(0, 8);
  a.add(0, 2);
  a.leave(4);
  a.ret();
}

TEST_F(VmNative, LoopsAndCallsRunAsMachineCodeWithTheInterpretersResult) {
  VmAsm a(ctx_->program);
  sum_program(a, 5000);
  ASSERT_TRUE(a.load());
  const std::string interpreted = run(false);
  const std::size_t before = native_blocks_made();
  const std::string native = run(true);
  EXPECT_EQ(native, interpreted);
  EXPECT_NE(native.find("r0 " + std::to_string(3u * 4999u * 5000u / 2u)), std::string::npos)
      << native;
  if (native_available()) {
    EXPECT_GE(native_blocks_made() - before, 3u);
  }
}

TEST_F(VmNative, ErrorsInsideMachineCodeAreTheInterpretersOwn) {
  // Each program fails inside its loop on a later pass: a zero divisor, a
  // load from outside script memory, and endless recursion.
  const auto build = [&](int kind) {
    VmAsm a(ctx_->program);
    auto loop = a.label(), f = a.label();
    a.movi(1, 2);
    a.movi(2, ctx_->program);
    a.bind(loop);
    if (kind == 0) {
      a.movi(0, 100);
      a.r(OP_DIV, 0, 1);
    } else if (kind == 1) {
      a.load(0, 2);
      a.movi(2, 0x100);
    } else {
      a.call(f);
    }
    a.subi(1, 1);
    a.jmp(loop);
    a.bind(f);
    a.enter(64);
    a.call(f);
    return a.load();
  };
  for (int kind = 0; kind < 3; ++kind) {
    ASSERT_TRUE(build(kind));
    const std::string interpreted = run(false);
    const std::string native = run(true);
    EXPECT_EQ(native, interpreted) << "kind " << kind;
    EXPECT_NE(native.find("state 2"), std::string::npos) << native;
  }
}

TEST_F(VmNative, AFloatResultWithANaNOperandIsTheFirstNaNMadeQuiet) {
  // rD, rS -> result, for add, sub, mul and div alike: the first NaN of
  // rD, rS with its quiet bit set (a signalling NaN becomes quiet).
  struct Case {
    std::uint32_t d, s, want;
  };
  const Case cases[] = {
      {0xFFFFBEE9u, 0xFF9DFFFFu, 0xFFFFBEE9u},  // both NaN: rD's
      {0x7F800001u, 0x7FC00002u, 0x7FC00001u},  // signalling rD made quiet
      {0x3F800000u, 0xFF9DFFFFu, 0xFFDDFFFFu},  // only rS: rS's, quiet
  };
  for (const Opcode op : {OP_FADD, OP_FSUB, OP_FMUL, OP_FDIV}) {
    for (const Case& c : cases) {
      VmAsm a(ctx_->program);
      a.movi(0, c.d);
      a.movi(1, c.s);
      a.r(op, 0, 1);
      a.ret();
      ASSERT_TRUE(a.load());
      for (const bool native : {false, true}) {
        run(native);
        EXPECT_EQ(ctx_->r[0], c.want) << "op " << int(op) << " native " << native;
      }
    }
  }
}

// Slice hook of the test below: counts its calls, goes on every time, and
// sets the stop flag (as another thread would) on call `stop_on`.
int g_calls = 0;
int g_stop_on = 0;
bool counting_hook(const VmContext*) {
  if (++g_calls == g_stop_on) vm_stop_flag.set();
  return true;
}
bool refusing_hook(const VmContext*) { return false; }

TEST_F(VmNative, ASliceGoesOnWhileTheHookAllowsUntilTheStopFlagIsSet) {
  // An endless counting loop: r0 counts pairs of instructions.
  VmAsm a(ctx_->program);
  auto loop = a.label();
  a.movi(0, 0);
  a.bind(loop);
  a.addi(0, 1);
  a.jmp(loop);
  ASSERT_TRUE(a.load());
  for (const bool native : {false, true}) {
    set_native_enabled(native);
    forget_all_translations();
    vm_stop_flag.clear();
    ctx_->state = kVmRunning;
    ctx_->pc = ctx_->program;
    // A refused slice ends the call: 255 instructions, the first a move.
    vm_set_slice_hook(&refusing_hook);
    vm_run(ctx_);
    EXPECT_EQ(ctx_->r[0], 127u) << native;
    // Slices go on until the flag set during the second one is seen at its
    // end: three slices in one call.
    vm_set_slice_hook(&counting_hook);
    g_calls = 0;
    g_stop_on = 2;
    vm_run(ctx_);
    EXPECT_EQ(g_calls, 2) << native;
    EXPECT_EQ(ctx_->r[0], 127u + (3u * 255u + 1u) / 2u) << native;
    EXPECT_EQ(ctx_->state, kVmRunning) << native;
    vm_set_slice_hook(nullptr);
  }
}

}  // namespace
}  // namespace talven::script
