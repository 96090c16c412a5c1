// The code generator: expression trees and statements to instructions,
// written straight into the program area (or only counted while measuring).
//
// Code grows from the area's start, data (strings, globals) from its end;
// every emission checks that both still fit. Jump targets are labels: a
// forward label keeps a chain through the operands that refer to it, each
// holding the offset of the previous one, and defining it walks the chain.
//
// Registers: six slots over r0..r5. `top` receives the value being computed;
// `spare` is a reserved slot that may be overwritten. A binary operator
// evaluates its right operand into top, takes a new top (or pushes the old
// one when all six are in use), evaluates the left operand, and combines
// them into top. Calls want their result in r0: the slot holding r0 is
// exchanged out of the way first.
#include <cstring>

#include "script/compiler_state.h"

namespace talven::script {

namespace {

struct Widths {
  Opcode s8, u8, s16, u16, w32;
};
constexpr Widths kLoadAbs{OP_MOVSBL_ABS, OP_MOVBL_ABS, OP_MOVSWL_ABS, OP_MOVWL_ABS,
                          OP_MOVL_LOAD_ABS};
constexpr Widths kLoadFrame{OP_MOVSBL_FRAME, OP_MOVBL_FRAME, OP_MOVSWL_FRAME, OP_MOVWL_FRAME,
                            OP_MOVL_LOAD_FRAME};
constexpr Widths kLoadInd{OP_MOVSBL_IND, OP_MOVBL_IND, OP_MOVSWL_IND, OP_MOVWL_IND,
                          OP_MOVL_LOAD_IND};

}  // namespace

// ---- emission ---------------------------------------------------------------------

void Compilation::emit_bytes(const std::uint8_t* bytes, std::size_t n) {
  if (image_) {
    if (static_cast<std::uint64_t>(code_size_) + data_size_ + n > capacity_)
      compile_fail(cerr::kProgramFull);
    std::memcpy(image_ + code_size_, bytes, n);
    if (code_lines_.empty() || code_lines_.back().file != place_file_ ||
        code_lines_.back().line != place_line_) {
      if (!code_lines_.empty() && code_lines_.back().offset == code_size_)
        code_lines_.back() = CodeLine{code_size_, place_file_, place_line_};
      else code_lines_.push_back(CodeLine{code_size_, place_file_, place_line_});
    }
  } else if (static_cast<std::uint64_t>(code_size_) + data_size_ + n > 0x7FFFFFFFu) {
    compile_fail(cerr::kProgramFull);
  }
  code_size_ += static_cast<std::uint32_t>(n);
}

void Compilation::emit_op(Opcode op) {
  std::uint8_t b[1];
  emit_bytes(b, encode_op(b, op));
}

void Compilation::emit_r(Opcode op, unsigned d, unsigned s) {
  std::uint8_t b[2];
  emit_bytes(b, encode_r(b, op, d, s));
}

void Compilation::emit_ri(Opcode op, unsigned d, unsigned s, std::uint32_t imm) {
  std::uint8_t b[6];
  emit_bytes(b, encode_ri(b, op, d, s, imm));
}

void Compilation::emit_i(Opcode op, std::uint32_t imm) {
  std::uint8_t b[5];
  emit_bytes(b, encode_i(b, op, imm));
}

void Compilation::emit_trap(std::uint16_t n) {
  std::uint8_t b[3];
  emit_bytes(b, encode_trap(b, n));
}

void Compilation::emit_label_ref(Opcode op, int label) {
  std::uint32_t operand = code_size_ + 1;
  emit_i(op, 0);
  label_reference(operand, label);
}

void Compilation::emit_ri_label(Opcode op, unsigned r, int label) {
  std::uint32_t operand = code_size_ + 2;
  emit_ri(op, r, r, 0);
  label_reference(operand, label);
}

// ---- labels ---------------------------------------------------------------------------

int Compilation::new_label() {
  if (label_count_ + 1 >= kMaxLabels) compile_fail(cerr::kNodesFull);
  return ++label_count_;
}

// The 32-bit operand at `offset` refers to `label`.
void Compilation::label_reference(std::uint32_t offset, int label) {
  if (label <= 0 || label > label_count_) compile_fail(cerr::kInternal);
  LabelEntry& l = labels_[label];
  if (!image_) return;
  if (l.defined) {
    put_u32(image_ + offset, l.word);
  } else {
    put_u32(image_ + offset, l.word);
    l.word = offset;
  }
}

void Compilation::patch_chain(std::uint32_t head, std::uint32_t address) {
  if (!image_) return;
  std::uint32_t p = head;
  while (p != 0) {
    if (static_cast<std::uint64_t>(p) + 4 > capacity_) compile_fail(cerr::kInternal);
    std::uint32_t next = get_u32(image_ + p);
    put_u32(image_ + p, address);
    p = next;
  }
}

void Compilation::define_label(int label) {
  if (label <= 0 || label > label_count_) compile_fail(cerr::kInternal);
  LabelEntry& l = labels_[label];
  if (l.defined) compile_fail(cerr::kInternal);
  Addr address = code_address(code_size_);
  patch_chain(l.word, address);
  l.defined = true;
  l.word = address;
  reachable_ = true;
}

int Compilation::here_label() {
  int label = new_label();
  define_label(label);
  return label;
}

void Compilation::emit_jump(int label) {
  emit_label_ref(OP_JMP, label);
  reachable_ = false;
}

// ---- data ------------------------------------------------------------------------------

Addr Compilation::place_data(std::uint32_t n) {
  std::uint64_t total = static_cast<std::uint64_t>(code_size_) + data_size_ + n;
  if ((image_ && total > capacity_) || total > 0x7FFFFFFFu) compile_fail(cerr::kProgramFull);
  data_size_ += n;
  return program_ + capacity_ - data_size_;
}

Addr Compilation::place_string(const char* text, std::uint32_t length) {
  Addr address = place_data(length + 1);
  write_image(address, text, length);
  std::uint8_t nul = 0;
  write_image(address + length, &nul, 1);
  return address;
}

void Compilation::write_image(Addr address, const void* bytes, std::size_t n) {
  if (!image_) return;
  if (address >= program_ && static_cast<std::uint64_t>(address - program_) + n <= capacity_) {
    std::memcpy(image_ + (address - program_), bytes, n);
    return;
  }
  // An extern variable's initial value goes to the shared heap.
  write_bytes(address, bytes, static_cast<std::uint32_t>(n));
}

// ---- register slots -----------------------------------------------------------------------

void Compilation::reset_slots() {
  for (int i = 0; i < 6; ++i) {
    slots_.reg[i] = static_cast<std::uint8_t>(i);
    slots_.reserved[i] = false;
  }
  slots_.top = 0;
  slots_.spare = 1;
  slots_.reserved[0] = slots_.reserved[1] = true;
  slots_.saved.clear();
}

void Compilation::reserve_top() {
  for (int s = 0; s < 6; ++s) {
    if (!slots_.reserved[s]) {
      slots_.reserved[s] = true;
      slots_.saved.push_back(slots_.top);
      slots_.top = s;
      return;
    }
  }
  emit_r(OP_PUSH, top_reg(), top_reg());
  slots_.saved.push_back(kSpill);
}

void Compilation::pop_to_spare() {
  int e = slots_.saved.back();
  slots_.saved.pop_back();
  if (e == kSpill) {
    emit_r(OP_POP, spare_reg(), spare_reg());
  } else {
    slots_.reserved[slots_.spare] = false;
    slots_.spare = e;
  }
}

void Compilation::move_top_to(unsigned r) {
  if (top_reg() == r) return;
  int holder = 0;
  while (slots_.reg[holder] != r) ++holder;
  if (slots_.reserved[holder]) emit_r(OP_XCHG, r, top_reg());
  else emit_r(OP_MOVL_RR, r, top_reg());
  std::swap(slots_.reg[holder], slots_.reg[slots_.top]);
}

// ---- expressions ----------------------------------------------------------------------------

namespace {

Opcode width_op(const Widths& w, std::int64_t size, bool is_unsigned) {
  if (size == 1) return is_unsigned ? w.u8 : w.s8;
  if (size == 2) return is_unsigned ? w.u16 : w.s16;
  return w.w32;
}

Opcode store_op(std::uint8_t kind, std::int64_t size) {
  if (kind == E_GVAR) return size == 1 ? OP_MOVB_ABS : size == 2 ? OP_MOVW_ABS : OP_MOVL_STORE_ABS;
  if (kind == E_LVAR)
    return size == 1 ? OP_MOVB_FRAME : size == 2 ? OP_MOVW_FRAME : OP_MOVL_STORE_FRAME;
  return size == 1 ? OP_MOVB_IND : size == 2 ? OP_MOVW_IND : OP_MOVL_STORE_IND;
}

}  // namespace

void Compilation::gen_load(NodeId loc) {
  TypeId t = ntype(loc);
  std::int64_t size = type_size(t);
  bool unsig = is_unsigned(t);
  switch (nkind(loc)) {
    case E_GVAR: emit_ri(width_op(kLoadAbs, size, unsig), top_reg(), top_reg(), na(loc)); break;
    case E_LVAR: emit_ri(width_op(kLoadFrame, size, unsig), top_reg(), top_reg(), na(loc)); break;
    default:
      gen(nodea(loc));
      emit_r(width_op(kLoadInd, size, unsig), top_reg(), top_reg());
      break;
  }
}

// Stores value_reg into a global or frame location (through addr_reg for a
// location through a pointer).
void Compilation::gen_store(NodeId loc, unsigned value_reg, unsigned addr_reg) {
  std::int64_t size = type_size(ntype(loc));
  Opcode op = store_op(nkind(loc), size);
  if (nkind(loc) == E_DEREF) {
    emit_r(op, addr_reg, value_reg);
    note_array_store(nodea(loc));
  } else {
    emit_ri(op, value_reg, value_reg, na(loc));
    if (nb(loc) == kFromBase) note_folded_store(loc);
  }
}

void Compilation::note_folded_store(NodeId loc) {
  record_array_store(nkind(loc) == E_LVAR, nc(loc));
}

void Compilation::note_array_store(NodeId address) {
  if (!image_) return;
  // Down to the base the address was computed from: through casts, and
  // through the pointer side of pointer +/- integer.
  for (;;) {
    const std::uint8_t k = nkind(address);
    if (k == E_RETYPE) {
      address = nodea(address);
    } else if (k == E_BINARY && naux(address) == OP_ADD) {
      if (is_pointer(ntype(nodea(address)))) address = nodea(address);
      else if (is_pointer(ntype(nodeb(address)))) address = nodeb(address);
      else return;
    } else if (k == E_BINARY && naux(address) == OP_SUB && is_pointer(ntype(nodea(address))) &&
               !is_pointer(ntype(nodeb(address)))) {
      address = nodea(address);
    } else {
      break;
    }
  }
  if (nkind(address) == E_ADDR && naux(address) == A_GLOBAL)
    record_array_store(false, base_of(address));
  else if (nkind(address) == E_LEA) record_array_store(true, base_of(address));
}

void Compilation::record_array_store(bool local, std::uint32_t base) {
  if (!image_) return;
  // The array holding the base (an element of an array of arrays or of
  // structures is based inside it).
  const DeclaredArray* array = nullptr;
  if (!local) {
    auto it = global_arrays_.upper_bound(base);
    if (it != global_arrays_.begin() &&
        base - std::prev(it)->second.start < std::prev(it)->second.size)
      array = &std::prev(it)->second;
  } else {
    for (const DeclaredArray& a : local_arrays_)
      if (base - a.start < a.size) array = &a;
  }
  if (!array) return;
  array_stores_.push_back(ArrayStore{code_size_, local, array->start, array->size, array->name});
}

// The address of a location into top.
void Compilation::gen_address(NodeId loc) {
  switch (nkind(loc)) {
    case E_GVAR: emit_ri(OP_MOVL_ADDR, top_reg(), top_reg(), na(loc)); break;
    case E_LVAR: emit_ri(OP_LEA, top_reg(), top_reg(), na(loc)); break;
    default: gen(nodea(loc)); break;
  }
}

void Compilation::gen(NodeId n) {
  switch (nkind(n)) {
    case E_CONST: emit_ri(OP_MOVL_IMM, top_reg(), top_reg(), na(n)); break;
    case E_ADDR:
      switch (naux(n)) {
        case A_GLOBAL: emit_ri(OP_MOVL_ADDR, top_reg(), top_reg(), na(n)); break;
        case A_STRING: {
          Addr a = place_string(symbols_.text(na(n)), nb(n));
          emit_ri(OP_MOVL_ADDR, top_reg(), top_reg(), a + nc(n));
          break;
        }
        default:
          emit_ri_label(OP_MOVL_ADDR, top_reg(),
                        static_cast<int>(symbols_.at(static_cast<int>(na(n))).value));
          break;
      }
      break;
    case E_LEA: emit_ri(OP_LEA, top_reg(), top_reg(), na(n)); break;
    case E_GVAR:
    case E_LVAR:
    case E_DEREF: gen_load(n); break;
    case E_RETYPE: gen(nodea(n)); break;
    case E_UNARY:
      gen(nodea(n));
      emit_r(static_cast<Opcode>(naux(n)), top_reg(), top_reg());
      break;
    case E_BINARY:
      gen(nodeb(n));
      reserve_top();
      gen(nodea(n));
      pop_to_spare();
      emit_r(static_cast<Opcode>(naux(n)), top_reg(), spare_reg());
      break;
    case E_COMPARE:
    case E_LOGAND:
    case E_LOGOR: gen_value_condition(n); break;
    case E_COND: gen_ternary(n); break;
    case E_COMMA:
      gen(nodea(n));
      gen(nodeb(n));
      break;
    case E_ASSIGN: gen_assign(n); break;
    case E_COMPOUND: gen_compound(n); break;
    case E_INCDEC: gen_incdec(n); break;
    case E_CALL: gen_call(n); break;
    default: compile_fail(cerr::kInternal);
  }
}

void Compilation::gen_assign(NodeId n) {
  NodeId loc = nodea(n);
  gen(nodeb(n));
  if (nkind(loc) != E_DEREF) {
    gen_store(loc, top_reg(), 0);
    return;
  }
  // Value first, then the address; the value stays the result.
  reserve_top();
  gen(nodea(loc));
  pop_to_spare();
  gen_store(loc, spare_reg(), top_reg());
  swap_top_spare();
}

void Compilation::gen_compound(NodeId n) {
  NodeId loc = nodea(n);
  Opcode op = static_cast<Opcode>(naux(n));
  TypeId t = ntype(loc);
  std::int64_t size = type_size(t);
  gen(nodeb(n));
  reserve_top();
  if (nkind(loc) != E_DEREF) {
    gen_load(loc);
    pop_to_spare();
    emit_r(op, top_reg(), spare_reg());
    gen_store(loc, top_reg(), 0);
    return;
  }
  // Through a pointer the address is computed once: right value in spare,
  // the address kept while its contents are loaded and combined.
  gen(nodea(loc));
  pop_to_spare();  // top: address, spare: right value
  reserve_top();
  unsigned addr_reg = slots_.saved.back() == kSpill ? top_reg() : slots_.reg[slots_.saved.back()];
  emit_r(width_op(kLoadInd, size, is_unsigned(t)), top_reg(), addr_reg);
  emit_r(op, top_reg(), spare_reg());
  pop_to_spare();  // spare: address
  gen_store(loc, top_reg(), spare_reg());
}

void Compilation::gen_incdec(NodeId n) {
  NodeId loc = nodea(n);
  std::uint8_t flags = naux(n);
  bool dec = (flags & INC_DEC) != 0, post = (flags & INC_POST) != 0;
  gen_address(loc);
  std::int64_t size = type_size(ntype(loc));
  unsigned r = top_reg();
  if (size == 4) {
    std::uint32_t step = nb(n);
    emit_ri(post ? OP_POSTOP : OP_PREOP, r, r, dec ? 0u - step : step);
  } else if (size == 2) {
    emit_r(dec ? (post ? OP_POSTDEC16 : OP_PREDEC16) : (post ? OP_POSTINC16 : OP_PREINC16), r, r);
  } else {
    emit_r(dec ? (post ? OP_POSTDEC : OP_PREDEC) : (post ? OP_POSTINC : OP_PREINC), r, r);
  }
  if (nkind(loc) == E_DEREF) note_array_store(nodea(loc));
  else if (nb(loc) == kFromBase) note_folded_store(loc);
}

void Compilation::gen_call(NodeId n) {
  // Arguments from the last to the first (the list is built that way).
  for (NodeId arg = nodeb(n); arg != kNoNode; arg = nodeb(arg)) {
    NodeId e = nodea(arg);
    if (is_const(e)) {
      emit_i(OP_PUSH_IMM, na(e));
    } else {
      gen(e);
      emit_r(OP_PUSH, top_reg(), top_reg());
    }
  }
  NodeId callee = nodea(n);
  move_top_to(kRegResult);
  if (nkind(callee) == E_ADDR && naux(callee) == A_FUNC) {
    emit_label_ref(OP_CALL, static_cast<int>(symbols_.at(static_cast<int>(na(callee))).value));
  } else {
    gen(callee);
    emit_r(OP_CALL_REG, top_reg(), top_reg());
    if (top_reg() != kRegResult) {
      // The result is in r0 whichever slot held the address.
      int holder = 0;
      while (slots_.reg[holder] != kRegResult) ++holder;
      std::swap(slots_.reg[holder], slots_.reg[slots_.top]);
    }
  }
  std::uint32_t argc = nc(n);
  if (argc > 0) emit_ri(OP_ADD_IMM, kRegStack, kRegStack, 4 * argc);
}

bool Compilation::contains_call(NodeId n) const {
  switch (nkind(n)) {
    case E_CALL: return true;
    case E_CONST:
    case E_ADDR:
    case E_LEA:
    case E_GVAR:
    case E_LVAR: return false;
    case E_DEREF:
    case E_UNARY:
    case E_RETYPE: return contains_call(nodea(n));
    case E_INCDEC: return contains_call(nodea(n));
    case E_COND:
      return contains_call(nodea(n)) || contains_call(nodeb(n)) || contains_call(nodec(n));
    default: return contains_call(nodea(n)) || contains_call(nodeb(n));
  }
}

// Code that only some paths run must not move values that live across it:
// a call in such code exchanges r0's holder out of the way, which the other
// paths would not do. Moving a live value out of r0 before the branches
// keeps every path's registers the same.
void Compilation::pre_branch_move(NodeId n) {
  bool live_in_r0 = false;
  for (int s : slots_.saved)
    if (s != kSpill && slots_.reg[s] == kRegResult) live_in_r0 = true;
  if (live_in_r0 && contains_call(n)) move_top_to(kRegResult);
}

void Compilation::gen_value_condition(NodeId n) {
  if (nkind(n) != E_COMPARE) pre_branch_move(n);
  int is_true = new_label();
  int end = new_label();
  emit_condition(n, true, is_true);
  emit_ri(OP_MOVL_IMM, top_reg(), top_reg(), 0);
  emit_jump(end);
  define_label(is_true);
  emit_ri(OP_MOVL_IMM, top_reg(), top_reg(), 1);
  define_label(end);
}

void Compilation::gen_ternary(NodeId n) {
  pre_branch_move(n);
  int else_label = new_label();
  int end = new_label();
  emit_condition(nodea(n), false, else_label);
  gen(nodeb(n));
  unsigned result = top_reg();
  emit_jump(end);
  define_label(else_label);
  gen(nodec(n));
  move_top_to(result);
  define_label(end);
}

// ---- conditions ---------------------------------------------------------------------------

namespace {

Opcode jump_for(std::uint8_t cmp, bool when_true) {
  std::uint8_t op = cmp & 7;
  bool unsig = (cmp & C_UNSIGNED) != 0;
  switch (op) {
    case C_EQ: return when_true ? OP_JE : OP_JNE;
    case C_NE: return when_true ? OP_JNE : OP_JE;
    case C_GT: return unsig ? (when_true ? OP_JA : OP_JBE) : (when_true ? OP_JG : OP_JLE);
    case C_GE: return unsig ? (when_true ? OP_JAE : OP_JB) : (when_true ? OP_JGE : OP_JL);
    case C_LT: return unsig ? (when_true ? OP_JB : OP_JAE) : (when_true ? OP_JL : OP_JGE);
    default: return unsig ? (when_true ? OP_JBE : OP_JA) : (when_true ? OP_JLE : OP_JG);
  }
}

}  // namespace

// Jumps to `label` when the truth of n equals when_true; falls through
// otherwise.
void Compilation::emit_condition(NodeId n, bool when_true, int label) {
  switch (nkind(n)) {
    case E_CONST: {
      bool truth;
      if (ntype(n) == kTypeFloat) {
        float f;
        std::uint32_t bits = na(n);
        std::memcpy(&f, &bits, sizeof f);
        truth = f != 0.0f;
      } else {
        truth = na(n) != 0;
      }
      if (truth == when_true) emit_jump(label);
      return;
    }
    case E_UNARY:
      if (naux(n) == OP_SET) {
        emit_condition(nodea(n), !when_true, label);
        return;
      }
      break;
    case E_GVAR:
    case E_LVAR: {
      std::int64_t size = type_size(ntype(n));
      bool abs = nkind(n) == E_GVAR;
      Opcode op = size == 1   ? (abs ? OP_ZEROB_ABS : OP_ZEROB_FRAME)
                  : size == 2 ? (abs ? OP_ZEROW_ABS : OP_ZEROW_FRAME)
                              : (abs ? OP_ZEROL_ABS : OP_ZEROL_FRAME);
      emit_i(op, na(n));
      emit_label_ref(when_true ? OP_JNE : OP_JE, label);
      return;
    }
    case E_COMPARE: {
      std::uint8_t cmp = naux(n);
      gen(nodeb(n));
      reserve_top();
      gen(nodea(n));
      pop_to_spare();
      bool float_order = (cmp & C_FLOAT) != 0 && (cmp & 7) >= C_GT;
      emit_r(float_order ? OP_FSUB : OP_SUB, top_reg(), spare_reg());
      emit_label_ref(jump_for(cmp, when_true), label);
      return;
    }
    case E_LOGAND:
      if (when_true) {
        int skip = new_label();
        emit_condition(nodea(n), false, skip);
        emit_condition(nodeb(n), true, label);
        define_label(skip);
      } else {
        emit_condition(nodea(n), false, label);
        emit_condition(nodeb(n), false, label);
      }
      return;
    case E_LOGOR:
      if (when_true) {
        emit_condition(nodea(n), true, label);
        emit_condition(nodeb(n), true, label);
      } else {
        int skip = new_label();
        emit_condition(nodea(n), true, skip);
        emit_condition(nodeb(n), false, label);
        define_label(skip);
      }
      return;
    default: break;
  }
  gen(n);
  emit_ri(OP_CMP_IMM, top_reg(), top_reg(), 0);
  emit_label_ref(when_true ? OP_JNE : OP_JE, label);
}

void Compilation::condition_statement(NodeId n, bool when_true, int label) {
  reset_slots();
  emit_condition(n, when_true, label);
}

// ---- functions --------------------------------------------------------------------------------

void Compilation::emit_function_entry(int sym) {
  define_label(static_cast<int>(symbols_.at(sym).value));
  note_function(sym, false);
  enter_operand_ = code_size_ + 1;
  emit_i(OP_ENTER, 0);
}

void Compilation::emit_function_exit(int ret_label, std::uint32_t frame_size) {
  define_label(ret_label);
  if (image_) put_u32(image_ + enter_operand_, frame_size);
  emit_i(OP_LEAVE, frame_size);
  emit_op(OP_RET);
}

void Compilation::emit_builtin_stub(int sym, int number) {
  define_label(static_cast<int>(symbols_.at(sym).value));
  note_function(sym, true);
  emit_trap(static_cast<std::uint16_t>(number));
  reset_slots();
  move_top_to(kRegResult);
  emit_op(OP_RET);
}

}  // namespace talven::script
