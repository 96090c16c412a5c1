// The parser's expression half: types, the node area, expressions and
// their typing rules, constant folding.
//
// Expressions become small trees in the node area (four words a node,
// taken from the top down and given back after each statement); the code
// generator walks them. Types live at the bottom of the same area and are
// shared, so that two spellings of one type are one node.
#include <cmath>
#include <cstring>
#include <limits>
#include <utility>

#include "base/messages.h"
#include "script/compiler_state.h"

namespace talven::script {

namespace {

float as_float(std::uint32_t bits) {
  float f;
  std::memcpy(&f, &bits, sizeof f);
  return f;
}

std::uint32_t float_bits(float f) {
  std::uint32_t v;
  std::memcpy(&v, &f, sizeof v);
  return v;
}

// float to int as the machine's truncating conversion does it: toward
// zero, and 0x80000000 for NaN and values out of range.
std::uint32_t truncate_float(float f) {
  if (std::isnan(f) || f >= 2147483648.0f || f < -2147483648.0f) return 0x80000000u;
  return static_cast<std::uint32_t>(static_cast<std::int32_t>(f));
}

constexpr int kMaxNesting = 1000;

}  // namespace

// ---- types --------------------------------------------------------------------

std::uint32_t Compilation::tkind(TypeId t) const {
  return t >= kTypeNodeBase ? words_[t - kTypeNodeBase] : 0;
}

TypeId Compilation::type_node(std::uint32_t kind, std::uint32_t a, std::uint32_t b) {
  std::uint64_t key =
      (static_cast<std::uint64_t>(b) << 20) | (static_cast<std::uint64_t>(a) << 3) | kind;
  auto it = type_cache_.find(key);
  if (it != type_cache_.end()) return it->second;
  if (lo_ + 3 > hi_) compile_fail(cerr::kNodesFull);
  std::uint32_t idx = lo_;
  words_[idx] = kind;
  words_[idx + 1] = a;
  words_[idx + 2] = b;
  lo_ += 3;
  TypeId t = kTypeNodeBase + static_cast<TypeId>(idx);
  type_cache_.emplace(key, t);
  return t;
}

TypeId Compilation::array_of(TypeId t, std::uint32_t n) {
  std::int64_t size = type_size(t);
  if (size < 0 || tkind(t) == TK_FUNC) compile_fail(cerr::kDeclaration);
  if (static_cast<std::uint64_t>(size) * n > 0x7FFFFFFFu) compile_fail(cerr::kDeclaration);
  return type_node(TK_ARRAY, static_cast<std::uint32_t>(t), n);
}

TypeId Compilation::new_struct(bool is_union) {
  if (lo_ + 3 > hi_) compile_fail(cerr::kNodesFull);
  std::uint32_t idx = lo_;
  words_[idx] = is_union ? TK_UNION : TK_STRUCT;
  words_[idx + 1] = 0xFFFFFFFFu;
  words_[idx + 2] = static_cast<std::uint32_t>(++struct_counter_);
  lo_ += 3;
  return kTypeNodeBase + static_cast<TypeId>(idx);
}

std::int64_t Compilation::type_size(TypeId t) const {
  switch (t) {
    case kTypeInt:
    case kTypeUInt:
    case kTypeFloat: return 4;
    case kTypeShort:
    case kTypeUShort: return 2;
    case kTypeChar:
    case kTypeUChar: return 1;
    default: break;
  }
  switch (tkind(t)) {
    case TK_PTR: return 4;
    case TK_ARRAY: {
      std::int64_t e = type_size(static_cast<TypeId>(ta(t)));
      return e < 0 ? -1 : e * tb(t);
    }
    case TK_STRUCT:
    case TK_UNION: return ta(t) == 0xFFFFFFFFu ? -1 : ta(t);
    default: return -1;
  }
}

std::uint32_t Compilation::complete_size(TypeId t) {
  std::int64_t s = type_size(t);
  if (s < 0) compile_fail(cerr::kDeclaration);
  return static_cast<std::uint32_t>(s);
}

TypeId Compilation::widen(TypeId t) const {
  if (t == kTypeChar || t == kTypeShort) return kTypeInt;
  if (t == kTypeUChar || t == kTypeUShort) return kTypeUInt;
  return t;
}

TypeId Compilation::array_to_pointer(TypeId t) {
  if (tkind(t) == TK_ARRAY) return pointer_to(static_cast<TypeId>(ta(t)));
  if (tkind(t) == TK_FUNC) return pointer_to(t);
  return t;
}

// ---- nodes -------------------------------------------------------------------------

NodeId Compilation::node(std::uint8_t kind, std::uint8_t aux, TypeId type, std::uint32_t a,
                         std::uint32_t b, std::uint32_t c) {
  if (hi_ < lo_ + 4) compile_fail(cerr::kNodesFull);
  hi_ -= 4;
  NodeId n = static_cast<NodeId>(hi_);
  words_[hi_] =
      kind | (static_cast<std::uint32_t>(aux) << 8) | (static_cast<std::uint32_t>(type) << 16);
  words_[hi_ + 1] = a;
  words_[hi_ + 2] = b;
  words_[hi_ + 3] = c;
  return n;
}

int Compilation::nesting_enter() {
  if (++nesting_ > kMaxNesting) compile_fail(cerr::kNodesFull);
  return nesting_;
}

// A value: arrays become the address of their first element, functions
// their address; structures cannot be values.
NodeId Compilation::rvalue(NodeId n) {
  TypeId t = ntype(n);
  std::uint8_t k = nkind(n);
  if (is_location(n)) {
    if (tkind(t) == TK_ARRAY) {
      TypeId p = pointer_to(static_cast<TypeId>(ta(t)));
      if (k == E_GVAR) return node(E_ADDR, A_GLOBAL, p, na(n), nb(n), nc(n));
      if (k == E_LVAR) return node(E_LEA, 0, p, na(n), nb(n), nc(n));
      NodeId addr = nodea(n);
      if (is_location(addr)) return node(E_RETYPE, 0, p, static_cast<std::uint32_t>(addr));
      set_ntype(addr, p);
      return addr;
    }
    if (tkind(t) == TK_FUNC) {
      if (k == E_DEREF) return nodea(n);
      compile_fail(cerr::kType);
    }
    if (is_struct(t)) compile_fail(cerr::kType);
    return n;
  }
  if (k == E_ADDR && tkind(t) == TK_FUNC) set_ntype(n, pointer_to(t));
  if (k == E_ADDR && naux(n) == A_STRING && tkind(t) == TK_ARRAY)
    set_ntype(n, pointer_to(kTypeChar));
  return n;
}

NodeId Compilation::to_float(NodeId n) {
  if (vtype(n) == kTypeFloat) return n;
  if (is_const(n))
    return const_node(kTypeFloat, float_bits(static_cast<float>(static_cast<std::int32_t>(na(n)))));
  return node(E_UNARY, OP_ITOF, kTypeFloat, static_cast<std::uint32_t>(n));
}

NodeId Compilation::to_int(NodeId n) {
  if (vtype(n) != kTypeFloat) return n;
  if (is_const(n)) return const_node(kTypeInt, truncate_float(as_float(na(n))));
  return node(E_UNARY, OP_FTOI, kTypeInt, static_cast<std::uint32_t>(n));
}

// The integer n times an element size (for pointer arithmetic).
NodeId Compilation::scale(NodeId n, std::int64_t size) {
  if (size == 1) return n;
  if (is_const(n)) return const_node(vtype(n), na(n) * static_cast<std::uint32_t>(size));
  return node(E_BINARY, OP_MUL, vtype(n), static_cast<std::uint32_t>(n),
              static_cast<std::uint32_t>(const_node(kTypeInt, static_cast<std::uint32_t>(size))));
}

namespace {

bool is_power_of_two(std::int64_t v) { return v > 0 && (v & (v - 1)) == 0; }

}  // namespace

NodeId Compilation::make_binary(int token, NodeId l, NodeId r) {
  switch (token) {
    case T_EQ:
    case T_NE:
    case T_LT:
    case T_LE:
    case T_GT:
    case T_GE: return make_compare(token, l, r);
    case T_ANDAND:
    case T_OROR: return make_logical(token, l, r);
    default: return make_arith(token, l, r);
  }
}

NodeId Compilation::make_arith(int token, NodeId l, NodeId r) {
  l = rvalue(l);
  r = rvalue(r);
  TypeId lt = vtype(l), rt = vtype(r);
  if (!is_scalar(lt) || !is_scalar(rt)) compile_fail(cerr::kType);

  if (lt == kTypeFloat || rt == kTypeFloat) {
    if (!is_basic(lt) || !is_basic(rt)) compile_fail(cerr::kType);
    Opcode op;
    switch (token) {
      case T_STAR: op = OP_FMUL; break;
      case T_SLASH: op = OP_FDIV; break;
      case T_MOD: op = OP_FMOD; break;
      case T_PLUS: op = OP_FADD; break;
      case T_MINUS: op = OP_FSUB; break;
      default: compile_fail(cerr::kType);
    }
    l = to_float(l);
    r = to_float(r);
    if (is_const(l) && is_const(r)) {
      float a = as_float(na(l)), b = as_float(na(r)), v = 0;
      switch (op) {
        case OP_FMUL: v = a * b; break;
        case OP_FDIV:
          if (b == 0.0f) compile_fail(cerr::kDivideByZero);
          v = a / b;
          break;
        case OP_FMOD:
          if (b == 0.0f) compile_fail(cerr::kDivideByZero);
          v = std::fmod(a, b);
          break;
        case OP_FADD: v = a + b; break;
        default: v = a - b; break;
      }
      return const_node(kTypeFloat, float_bits(v));
    }
    return node(E_BINARY, op, kTypeFloat, static_cast<std::uint32_t>(l),
                static_cast<std::uint32_t>(r));
  }

  bool lp = is_pointer(lt), rp = is_pointer(rt);
  if ((token == T_PLUS || token == T_MINUS) && (lp || rp)) {
    if (token == T_PLUS && lp && rp) compile_fail(cerr::kType);
    if (token == T_MINUS && lp && rp) {
      if (lt != rt) compile_fail(cerr::kType);
      std::int64_t size = type_size(target(lt));
      if (size <= 0) compile_fail(cerr::kType);
      NodeId diff = node(E_BINARY, OP_SUB, kTypeInt, static_cast<std::uint32_t>(l),
                         static_cast<std::uint32_t>(r));
      if (size == 1) return diff;
      // The byte distance divided by the element size, unsigned: a logical
      // shift for the usual power-of-two sizes.
      if (is_power_of_two(size)) {
        std::uint32_t shift = 0;
        while ((std::int64_t{1} << shift) < size) ++shift;
        return node(E_BINARY, OP_SHR, kTypeInt, static_cast<std::uint32_t>(diff),
                    static_cast<std::uint32_t>(const_node(kTypeInt, shift)));
      }
      return node(
          E_BINARY, OP_DIV, kTypeInt, static_cast<std::uint32_t>(diff),
          static_cast<std::uint32_t>(const_node(kTypeInt, static_cast<std::uint32_t>(size))));
    }
    if (token == T_MINUS && !lp) compile_fail(cerr::kType);
    // pointer +/- integer, the integer scaled by the element size
    NodeId ptr = lp ? l : r;
    NodeId idx = lp ? r : l;
    TypeId pt = lp ? lt : rt;
    if (!is_integer(vtype(idx))) compile_fail(cerr::kType);
    std::int64_t size = type_size(target(pt));
    if (size <= 0) compile_fail(cerr::kType);
    NodeId scaled = scale(idx, size);
    if (is_const(scaled)) {
      std::uint32_t off = na(scaled);
      if (token == T_MINUS) off = 0u - off;
      std::uint8_t k = nkind(ptr);
      // A folded address remembers the base it was computed from (the first
      // one, through several folds), which says whose array a store through
      // it belongs to.
      if (k == E_ADDR && naux(ptr) == A_GLOBAL)
        return node(E_ADDR, A_GLOBAL, pt, na(ptr) + off, kFromBase, base_of(ptr));
      if (k == E_ADDR && naux(ptr) == A_STRING)
        return node(E_ADDR, A_STRING, pt, na(ptr), nb(ptr), nc(ptr) + off);
      if (k == E_LEA) return node(E_LEA, 0, pt, na(ptr) + off, kFromBase, base_of(ptr));
      if (k == E_CONST) return const_node(pt, na(ptr) + off);
    }
    Opcode op = token == T_PLUS ? OP_ADD : OP_SUB;
    if (lp)
      return node(E_BINARY, op, pt, static_cast<std::uint32_t>(ptr),
                  static_cast<std::uint32_t>(scaled));
    return node(E_BINARY, op, pt, static_cast<std::uint32_t>(scaled),
                static_cast<std::uint32_t>(ptr));
  }

  if (!is_integer(lt) || !is_integer(rt)) compile_fail(cerr::kType);
  // The type of the larger operand; of two equal sizes the unsigned one.
  TypeId result;
  std::int64_t ls = type_size(lt), rs = type_size(rt);
  if (ls != rs) result = ls > rs ? lt : rt;
  else result = is_unsigned(lt) ? lt : rt;
  bool unsig = is_unsigned(result);
  Opcode op;
  switch (token) {
    case T_STAR: op = OP_MUL; break;
    case T_SLASH: op = OP_DIV; break;
    case T_MOD: op = OP_MOD; break;
    case T_PLUS: op = OP_ADD; break;
    case T_MINUS: op = OP_SUB; break;
    case T_SHL: op = OP_SHL; break;
    case T_SHR: op = unsig ? OP_SHR : OP_SAR; break;
    case T_AMP: op = OP_AND; break;
    case T_OR: op = OP_OR; break;
    case T_XOR: op = OP_XOR; break;
    default: compile_fail(cerr::kExpression);
  }
  if (is_const(l) && is_const(r)) {
    std::uint32_t ua = na(l), ub = na(r), v = 0;
    std::int32_t a = static_cast<std::int32_t>(ua), b = static_cast<std::int32_t>(ub);
    switch (op) {
      case OP_MUL: v = ua * ub; break;
      case OP_DIV:
        if (b == 0) compile_fail(cerr::kDivideByZero);
        v = (a == std::numeric_limits<std::int32_t>::min() && b == -1)
                ? ua
                : static_cast<std::uint32_t>(a / b);
        break;
      case OP_MOD:
        if (b == 0) compile_fail(cerr::kDivideByZero);
        v = b == -1 ? 0 : static_cast<std::uint32_t>(a % b);
        break;
      case OP_ADD: v = ua + ub; break;
      case OP_SUB: v = ua - ub; break;
      case OP_SHL: v = ua << (ub & 31); break;
      case OP_SHR: v = ua >> (ub & 31); break;
      case OP_SAR: v = static_cast<std::uint32_t>(a >> (ub & 31)); break;
      case OP_AND: v = ua & ub; break;
      case OP_OR: v = ua | ub; break;
      default: v = ua ^ ub; break;
    }
    return const_node(result, v);
  }
  // Multiplication and division by the constant 1 disappear.
  auto is_one = [&](NodeId n) { return is_const(n) && na(n) == 1; };
  if (op == OP_MUL && is_one(r)) return l;
  if (op == OP_MUL && is_one(l)) return r;
  if (op == OP_DIV && is_one(r)) return l;
  return node(E_BINARY, op, result, static_cast<std::uint32_t>(l), static_cast<std::uint32_t>(r));
}

NodeId Compilation::make_compare(int token, NodeId l, NodeId r) {
  l = rvalue(l);
  r = rvalue(r);
  TypeId lt = vtype(l), rt = vtype(r);
  if (!is_scalar(lt) || !is_scalar(rt)) compile_fail(cerr::kType);
  std::uint8_t op;
  switch (token) {
    case T_EQ: op = C_EQ; break;
    case T_NE: op = C_NE; break;
    case T_GT: op = C_GT; break;
    case T_GE: op = C_GE; break;
    case T_LT: op = C_LT; break;
    default: op = C_LE; break;
  }
  std::uint8_t flags = 0;
  if (op == C_EQ || op == C_NE) {
    // The 32-bit values are compared as they are.
    if (is_const(l) && is_const(r)) {
      bool eq = na(l) == na(r);
      return const_node(kTypeInt, (op == C_EQ) == eq ? 1 : 0);
    }
  } else if (lt == kTypeFloat || rt == kTypeFloat) {
    if (!is_basic(lt) || !is_basic(rt)) compile_fail(cerr::kType);
    l = to_float(l);
    r = to_float(r);
    flags = C_FLOAT;
    if (is_const(l) && is_const(r)) {
      float a = as_float(na(l)), b = as_float(na(r));
      bool v = op == C_GT ? a > b : op == C_GE ? a >= b : op == C_LT ? a < b : a <= b;
      return const_node(kTypeInt, v ? 1 : 0);
    }
  } else {
    // Signed only when both sides are signed 32-bit integers.
    bool is_signed = lt == kTypeInt && rt == kTypeInt;
    if (!is_signed) flags = C_UNSIGNED;
    if (is_const(l) && is_const(r)) {
      bool v;
      if (is_signed) {
        std::int32_t a = static_cast<std::int32_t>(na(l)), b = static_cast<std::int32_t>(na(r));
        v = op == C_GT ? a > b : op == C_GE ? a >= b : op == C_LT ? a < b : a <= b;
      } else {
        std::uint32_t a = na(l), b = na(r);
        v = op == C_GT ? a > b : op == C_GE ? a >= b : op == C_LT ? a < b : a <= b;
      }
      return const_node(kTypeInt, v ? 1 : 0);
    }
  }
  return node(E_COMPARE, static_cast<std::uint8_t>(op | flags), kTypeInt,
              static_cast<std::uint32_t>(l), static_cast<std::uint32_t>(r));
}

NodeId Compilation::make_logical(int token, NodeId l, NodeId r) {
  l = rvalue(l);
  r = rvalue(r);
  if (!is_scalar(vtype(l)) || !is_scalar(vtype(r))) compile_fail(cerr::kType);
  if (is_const(l) && is_const(r)) {
    auto truth = [&](NodeId n) {
      return ntype(n) == kTypeFloat ? as_float(na(n)) != 0.0f : na(n) != 0;
    };
    bool v = token == T_ANDAND ? (truth(l) && truth(r)) : (truth(l) || truth(r));
    return const_node(kTypeInt, v ? 1 : 0);
  }
  return node(token == T_ANDAND ? E_LOGAND : E_LOGOR, 0, kTypeInt, static_cast<std::uint32_t>(l),
              static_cast<std::uint32_t>(r));
}

NodeId Compilation::make_assign(int token, NodeId l, NodeId r) {
  if (!is_location(l)) compile_fail(cerr::kLvalue);
  TypeId lt = ntype(l);
  if (!is_scalar(lt)) compile_fail(cerr::kLvalue);
  r = rvalue(r);
  TypeId rt = vtype(r);
  if (!is_scalar(rt)) compile_fail(cerr::kType);
  if (token == T_ASSIGN) {
    if (lt == kTypeFloat && rt != kTypeFloat) {
      if (is_pointer(rt)) compile_fail(cerr::kType);
      r = to_float(r);
    } else if (lt != kTypeFloat && rt == kTypeFloat) {
      if (is_pointer(lt)) compile_fail(cerr::kType);
      r = to_int(r);
    }
    return node(E_ASSIGN, 0, widen(lt), static_cast<std::uint32_t>(l),
                static_cast<std::uint32_t>(r));
  }
  Opcode op;
  if (is_pointer(lt)) {
    if (token != T_ADD_ASSIGN && token != T_SUB_ASSIGN) compile_fail(cerr::kType);
    if (!is_integer(rt)) compile_fail(cerr::kType);
    std::int64_t size = type_size(target(lt));
    if (size <= 0) compile_fail(cerr::kType);
    r = scale(r, size);
    op = token == T_ADD_ASSIGN ? OP_ADD : OP_SUB;
  } else if (lt == kTypeFloat) {
    if (is_pointer(rt)) compile_fail(cerr::kType);
    switch (token) {
      case T_MUL_ASSIGN: op = OP_FMUL; break;
      case T_DIV_ASSIGN: op = OP_FDIV; break;
      case T_MOD_ASSIGN: op = OP_FMOD; break;
      case T_ADD_ASSIGN: op = OP_FADD; break;
      case T_SUB_ASSIGN: op = OP_FSUB; break;
      default: compile_fail(cerr::kType);
    }
    r = to_float(r);
  } else {
    if (is_pointer(rt)) compile_fail(cerr::kType);
    r = to_int(r);
    bool unsig = is_unsigned(lt) || is_unsigned(vtype(r));
    switch (token) {
      case T_MUL_ASSIGN: op = OP_MUL; break;
      case T_DIV_ASSIGN: op = OP_DIV; break;
      case T_MOD_ASSIGN: op = OP_MOD; break;
      case T_ADD_ASSIGN: op = OP_ADD; break;
      case T_SUB_ASSIGN: op = OP_SUB; break;
      case T_SHL_ASSIGN: op = OP_SHL; break;
      case T_SHR_ASSIGN: op = unsig ? OP_SHR : OP_SAR; break;
      case T_AND_ASSIGN: op = OP_AND; break;
      case T_OR_ASSIGN: op = OP_OR; break;
      default: op = OP_XOR; break;
    }
  }
  return node(E_COMPOUND, op, widen(lt), static_cast<std::uint32_t>(l),
              static_cast<std::uint32_t>(r));
}

NodeId Compilation::make_cast(TypeId t, NodeId e) {
  if (!is_scalar(t)) compile_fail(cerr::kType);
  e = rvalue(e);
  TypeId et = vtype(e);
  if (!is_scalar(et)) compile_fail(cerr::kType);
  if (t == kTypeFloat) {
    if (is_pointer(et)) compile_fail(cerr::kType);
    return to_float(e);
  }
  if (et == kTypeFloat) {
    if (is_pointer(t)) compile_fail(cerr::kType);
    e = to_int(e);
  }
  // Between integers and pointers only the type changes; a variable is
  // still read with its own width.
  if (is_const(e)) return const_node(t, na(e));
  if (is_location(e)) return node(E_RETYPE, 0, t, static_cast<std::uint32_t>(e));
  set_ntype(e, t);
  return e;
}

NodeId Compilation::make_deref(NodeId addr) {
  addr = rvalue(addr);
  TypeId pt = vtype(addr);
  if (!is_pointer(pt)) compile_fail(cerr::kType);
  TypeId t = target(pt);
  if (nkind(addr) == E_ADDR && naux(addr) == A_GLOBAL)
    return node(E_GVAR, 0, t, na(addr), nb(addr), nc(addr));
  if (nkind(addr) == E_LEA) return node(E_LVAR, 0, t, na(addr), nb(addr), nc(addr));
  return node(E_DEREF, 0, t, static_cast<std::uint32_t>(addr));
}

// base.member, base a location of structure type st.
NodeId Compilation::make_member(NodeId base, TypeId st, const std::string& member) {
  if (!is_struct(st)) compile_fail(cerr::kType);
  if (type_size(st) < 0) compile_fail(cerr::kDeclaration);
  int slot = symbols_.find(member + "_" + std::to_string(tb(st)), false);
  if (slot < 0 || symbols_.at(slot).kind != kSymMember) fail_undefined(member);
  TypeId mt = symbols_.at(slot).extra;
  std::uint32_t off = symbols_.at(slot).value;
  switch (nkind(base)) {
    case E_GVAR: return node(E_GVAR, 0, mt, na(base) + off, nb(base), nc(base));
    case E_LVAR: return node(E_LVAR, 0, mt, na(base) + off, nb(base), nc(base));
    default: break;
  }
  NodeId addr = nodea(base);
  TypeId pt = pointer_to(mt);
  if (off != 0) {
    std::uint8_t k = nkind(addr);
    if (k == E_ADDR && naux(addr) == A_STRING)
      addr = node(E_ADDR, A_STRING, pt, na(addr), nb(addr), nc(addr) + off);
    else if (k == E_CONST) addr = const_node(pt, na(addr) + off);
    else
      addr = node(E_BINARY, OP_ADD, pt, static_cast<std::uint32_t>(addr),
                  static_cast<std::uint32_t>(const_node(kTypeInt, off)));
  } else if (is_location(addr)) {
    addr = node(E_RETYPE, 0, pt, static_cast<std::uint32_t>(addr));
  } else {
    set_ntype(addr, pt);
  }
  return node(E_DEREF, 0, mt, static_cast<std::uint32_t>(addr));
}

NodeId Compilation::make_call(NodeId callee, const std::vector<NodeId>& args) {
  TypeId ret;
  TypeId ct = ntype(callee);
  if (nkind(callee) == E_ADDR && naux(callee) == A_FUNC && tkind(ct) == TK_FUNC) {
    ret = static_cast<TypeId>(ta(ct));
  } else {
    callee = rvalue(callee);
    TypeId t = vtype(callee);
    if (!is_pointer(t) || tkind(target(t)) != TK_FUNC) compile_fail(cerr::kType);
    ret = static_cast<TypeId>(ta(target(t)));
  }
  NodeId head = kNoNode;
  for (NodeId a : args) {
    NodeId v = rvalue(a);
    if (!is_scalar(vtype(v))) compile_fail(cerr::kType);
    head =
        node(E_ARG, 0, vtype(v), static_cast<std::uint32_t>(v), static_cast<std::uint32_t>(head));
  }
  return node(E_CALL, 0, widen(ret), static_cast<std::uint32_t>(callee),
              static_cast<std::uint32_t>(head), static_cast<std::uint32_t>(args.size()));
}

NodeId Compilation::make_incdec(NodeId loc, bool dec, bool post) {
  if (!is_location(loc)) compile_fail(cerr::kLvalue);
  TypeId t = ntype(loc);
  if (!is_scalar(t)) compile_fail(cerr::kLvalue);
  if (t == kTypeFloat) compile_fail(cerr::kType);
  std::uint32_t step = 1;
  if (is_pointer(t)) {
    std::int64_t size = type_size(target(t));
    if (size <= 0) compile_fail(cerr::kType);
    step = static_cast<std::uint32_t>(size);
  }
  std::uint8_t flags = static_cast<std::uint8_t>((dec ? INC_DEC : 0) | (post ? INC_POST : 0));
  return node(E_INCDEC, flags, widen(t), static_cast<std::uint32_t>(loc), step);
}

// ---- expressions -------------------------------------------------------------------

bool Compilation::is_type_start(const Token& t) {
  switch (t.kind) {
    case T_INT:
    case T_CHAR:
    case T_STRUCT:
    case T_UNION:
    case T_SIGNED:
    case T_UNSIGNED:
    case T_LONG:
    case T_SHORT:
    case T_FLOAT: return true;
    case T_IDENT: {
      int slot = symbols_.lookup(t.text);
      return slot >= 0 && symbols_.at(slot).kind == kSymTypedef;
    }
    default: return false;
  }
}

TypeId Compilation::type_name() {
  Specifier s;
  parse_specifier(s, false);
  Declarator d;
  d.type = s.type;
  declarator(d, true, false);
  if (d.has_name) compile_fail(cerr::kType);
  return d.type;
}

std::uint32_t Compilation::constant_int(int error) {
  NodeId e = rvalue(conditional_expression());
  if (!is_const(e)) compile_fail(error);
  return na(e);
}

NodeId Compilation::expression() {
  NodeId l = assignment_expression();
  while (tok_.kind == T_COMMA) {
    advance();
    NodeId r = rvalue(assignment_expression());
    l = rvalue(l);
    l = node(E_COMMA, 0, vtype(r), static_cast<std::uint32_t>(l), static_cast<std::uint32_t>(r));
  }
  return l;
}

NodeId Compilation::assignment_expression() {
  NodeId l = conditional_expression();
  switch (tok_.kind) {
    case T_ASSIGN:
    case T_MUL_ASSIGN:
    case T_DIV_ASSIGN:
    case T_MOD_ASSIGN:
    case T_ADD_ASSIGN:
    case T_SUB_ASSIGN:
    case T_SHL_ASSIGN:
    case T_SHR_ASSIGN:
    case T_AND_ASSIGN:
    case T_OR_ASSIGN:
    case T_XOR_ASSIGN: {
      int op = tok_.kind;
      advance();
      nesting_enter();
      NodeId r = assignment_expression();
      nesting_leave();
      return make_assign(op, l, r);
    }
    default: return l;
  }
}

NodeId Compilation::conditional_expression() {
  NodeId c = binary_expression(4);
  if (tok_.kind != T_QUESTION) return c;
  advance();
  nesting_enter();
  NodeId a = rvalue(expression());
  expect(T_COLON);
  NodeId b = rvalue(conditional_expression());
  nesting_leave();
  c = rvalue(c);
  TypeId at = vtype(a), bt = vtype(b);
  if (!is_scalar(vtype(c)) || !is_scalar(at) || !is_scalar(bt)) compile_fail(cerr::kType);
  // The type of b, but a's when b is a signed int, or when a is not a
  // signed int and b is an unsigned int.
  TypeId t = bt;
  if (bt == kTypeInt || (at != kTypeInt && bt == kTypeUInt)) t = at;
  if (is_const(c)) {
    // Only the chosen branch is compiled.
    bool truth = ntype(c) == kTypeFloat ? as_float(na(c)) != 0.0f : na(c) != 0;
    NodeId chosen = truth ? a : b;
    if (vtype(chosen) == t) return chosen;
    if (is_const(chosen)) return const_node(t, na(chosen));
    return node(E_RETYPE, 0, t, static_cast<std::uint32_t>(chosen));
  }
  return node(E_COND, 0, t, static_cast<std::uint32_t>(c), static_cast<std::uint32_t>(a),
              static_cast<std::uint32_t>(b));
}

namespace {

int binary_level(int kind) {
  switch (kind) {
    case T_OROR: return 4;
    case T_ANDAND: return 5;
    case T_OR: return 6;
    case T_XOR: return 7;
    case T_AMP: return 8;
    case T_EQ:
    case T_NE: return 9;
    case T_GT:
    case T_GE:
    case T_LT:
    case T_LE: return 10;
    case T_SHL:
    case T_SHR: return 11;
    case T_PLUS:
    case T_MINUS: return 12;
    case T_STAR:
    case T_SLASH:
    case T_MOD: return 13;
    default: return 0;
  }
}

}  // namespace

NodeId Compilation::binary_expression(int min_level) {
  NodeId l = unary_expression();
  for (;;) {
    int level = binary_level(tok_.kind);
    if (level == 0 || level < min_level) return l;
    int op = tok_.kind;
    advance();
    NodeId r = level < 13 ? binary_expression(level + 1) : unary_expression();
    l = make_binary(op, l, r);
  }
}

NodeId Compilation::unary_expression() {
  nesting_enter();
  // Set by a '&' just before: passed on to the postfix expression that
  // follows directly, and to nothing else.
  const bool address_only = std::exchange(address_wanted_, false);
  NodeId result;
  switch (tok_.kind) {
    case T_SIZEOF: {
      advance();
      TypeId t;
      if (tok_.kind == T_LPAREN && is_type_start(peek(1))) {
        advance();
        t = type_name();
        expect(T_RPAREN);
      } else {
        std::uint32_t mark = expr_mark();
        // The operand is never evaluated: nothing in it is accessed.
        ++unevaluated_;
        NodeId e = unary_expression();
        --unevaluated_;
        t = ntype(e);
        if (tkind(t) == TK_FUNC) compile_fail(cerr::kType);
        reset_exprs(mark);
      }
      std::int64_t size = type_size(t);
      if (size < 0) compile_fail(cerr::kDeclaration);
      result = const_node(kTypeInt, static_cast<std::uint32_t>(size));
      break;
    }
    case T_NOT: {
      advance();
      NodeId e = rvalue(unary_expression());
      if (!is_scalar(vtype(e))) compile_fail(cerr::kType);
      if (is_const(e)) {
        bool zero = ntype(e) == kTypeFloat ? as_float(na(e)) == 0.0f : na(e) == 0;
        result = const_node(kTypeInt, zero ? 1 : 0);
      } else {
        result = node(E_UNARY, OP_SET, kTypeInt, static_cast<std::uint32_t>(e));
      }
      break;
    }
    case T_TILDE: {
      advance();
      NodeId e = rvalue(unary_expression());
      TypeId t = vtype(e);
      if (!is_integer(t)) compile_fail(cerr::kType);
      result = is_const(e) ? const_node(t, ~na(e))
                           : node(E_UNARY, OP_NOT, t, static_cast<std::uint32_t>(e));
      break;
    }
    case T_MINUS: {
      advance();
      NodeId e = rvalue(unary_expression());
      TypeId t = vtype(e);
      if (t == kTypeFloat) {
        result = is_const(e) ? const_node(t, na(e) ^ 0x80000000u)
                             : node(E_UNARY, OP_FNEG, t, static_cast<std::uint32_t>(e));
      } else if (is_integer(t)) {
        result = is_const(e) ? const_node(t, 0u - na(e))
                             : node(E_UNARY, OP_NEG, t, static_cast<std::uint32_t>(e));
      } else {
        compile_fail(cerr::kType);
      }
      break;
    }
    case T_INC:
    case T_DEC: {
      bool dec = tok_.kind == T_DEC;
      advance();
      result = make_incdec(unary_expression(), dec, false);
      break;
    }
    case T_STAR:
      advance();
      result = make_deref(unary_expression());
      break;
    case T_AMP: {
      advance();
      address_wanted_ = true;
      NodeId e = unary_expression();
      switch (nkind(e)) {
        case E_ADDR:
          if (naux(e) != A_FUNC) compile_fail(cerr::kLvalue);
          result = e;  // a function's address is the function itself
          break;
        case E_GVAR:
          result = node(E_ADDR, A_GLOBAL, pointer_to(ntype(e)), na(e), nb(e), nc(e));
          break;
        case E_LVAR: result = node(E_LEA, 0, pointer_to(ntype(e)), na(e), nb(e), nc(e)); break;
        case E_DEREF: {
          NodeId addr = nodea(e);
          TypeId pt = pointer_to(ntype(e));
          if (is_location(addr)) {
            result = node(E_RETYPE, 0, pt, static_cast<std::uint32_t>(addr));
          } else {
            set_ntype(addr, pt);
            result = addr;
          }
          break;
        }
        default: compile_fail(cerr::kLvalue);
      }
      break;
    }
    case T_LPAREN:
      if (is_type_start(peek(1))) {
        advance();
        TypeId t = type_name();
        expect(T_RPAREN);
        result = make_cast(t, unary_expression());
        break;
      }
      address_wanted_ = address_only;
      result = postfix_expression();
      break;
    default:
      address_wanted_ = address_only;
      result = postfix_expression();
      break;
  }
  nesting_leave();
  return result;
}

namespace {

bool starts_postfix(int kind) {
  return kind == T_LBRACKET || kind == T_LPAREN || kind == T_DOT || kind == T_ARROW ||
         kind == T_INC || kind == T_DEC;
}

}  // namespace

// array[index] with a constant index outside the array: a warning. One
// past the last element is an address C allows to form (&buf[4], and
// m[2] of int m[2][3] as a pointer), so it is warned about only when the
// element is accessed.
void Compilation::check_constant_index(NodeId array, NodeId index, const std::string& subject,
                                       bool address_only, const FatalPlace& at) {
  if (unevaluated_ > 0 || !is_location(array) || tkind(ntype(array)) != TK_ARRAY) return;
  if (!is_const(index) || !is_integer(vtype(index))) return;
  const std::uint32_t count = tb(ntype(array));
  if (count == 0 || count == 0xFFFFFFFFu) return;  // size not known here
  const std::int64_t i = is_unsigned(vtype(index))
                             ? static_cast<std::int64_t>(na(index))
                             : static_cast<std::int64_t>(static_cast<std::int32_t>(na(index)));
  const bool element_is_array = tkind(static_cast<TypeId>(ta(ntype(array)))) == TK_ARRAY;
  if (i >= 0 && i < count) return;
  if (i == count && ((address_only && !starts_postfix(tok_.kind)) ||
                     (element_is_array && tok_.kind != T_LBRACKET)))
    return;
  const std::string n = std::to_string(i);
  const std::string name = display_text(subject);
  const std::string which = subject.empty() ? "an array" : "array '" + name + "'";
  const std::string jp = subject.empty() ? "配列" : "配列 " + subject + " ";
  if (i < 0)
    warn_at(at.path, at.line, at.source, at.column,
            "警告: " + jp + "の添字 " + n + " は先頭より前を指しています。",
            "warning: index " + n + " is before the start of " + which);
  else
    warn_at(at.path, at.line, at.source, at.column,
            "警告: " + jp + "の添字 " + n + " は末尾を越えています (要素数 " +
                std::to_string(count) + ")。",
            "warning: index " + n + " is past the end of " + which + " (" + std::to_string(count) +
                (count == 1 ? " element)" : " elements)"));
}

NodeId Compilation::postfix_expression() {
  const bool address_only = std::exchange(address_wanted_, false);
  // What the expression names so far (buf, m[1], s.pts), for warnings;
  // empty when it has no name.
  std::string subject = tok_.kind == T_IDENT ? tok_.text : std::string();
  NodeId n = primary_expression();
  for (;;) {
    switch (tok_.kind) {
      case T_LBRACKET: {
        advance();
        NodeId idx = expression();
        // The warning marks the ']'; whether the element is accessed
        // depends on what follows it.
        const FatalPlace at = reading_place();
        expect(T_RBRACKET);
        check_constant_index(n, idx, subject, address_only, at);
        if (!subject.empty())
          subject += is_const(idx) && is_integer(vtype(idx))
                         ? "[" + std::to_string(static_cast<std::int32_t>(na(idx))) + "]"
                         : std::string("[...]");
        n = make_deref(make_arith(T_PLUS, n, idx));
        break;
      }
      case T_LPAREN: {
        advance();
        std::vector<NodeId> args;
        if (tok_.kind != T_RPAREN) {
          for (;;) {
            args.push_back(assignment_expression());
            if (!accept(T_COMMA)) break;
          }
        }
        // Checked while reading stands at the ')', which the caret marks.
        check_call_arguments(n, args);
        expect(T_RPAREN);
        n = make_call(n, args);
        subject.clear();
        break;
      }
      case T_DOT:
      case T_ARROW: {
        bool arrow = tok_.kind == T_ARROW;
        advance();
        if (tok_.kind != T_IDENT) {
          missing_token("識別子");
          compile_fail(cerr::kUndefined);
        }
        std::string member = tok_.text;
        advance();
        if (arrow) {
          n = make_deref(n);
        } else if (!is_location(n)) {
          compile_fail(cerr::kType);
        }
        if (!subject.empty()) subject += (arrow ? "->" : ".") + member;
        n = make_member(n, ntype(n), member);
        break;
      }
      case T_INC:
      case T_DEC: {
        bool dec = tok_.kind == T_DEC;
        advance();
        n = make_incdec(n, dec, true);
        break;
      }
      default: return n;
    }
  }
}

NodeId Compilation::primary_expression() {
  switch (tok_.kind) {
    case T_CONST: {
      NodeId n = const_node(tok_.is_float ? kTypeFloat : kTypeInt, tok_.value);
      advance();
      return n;
    }
    case T_STRING: {
      // Adjacent literals are one literal.
      std::string text = std::move(tok_.text);
      advance();
      while (tok_.kind == T_STRING) {
        if (text.size() + tok_.text.size() >= kPoolSize) compile_fail(cerr::kPoolFull);
        text += tok_.text;
        advance();
      }
      std::uint32_t offset = symbols_.pool_add(text.data(), text.size());
      std::uint32_t len = static_cast<std::uint32_t>(text.size());
      return node(E_ADDR, A_STRING, array_of(kTypeChar, len + 1), offset, len, 0);
    }
    case T_IDENT: {
      std::string name = std::move(tok_.text);
      advance();
      return identifier_node(name, tok_.kind == T_LPAREN);
    }
    case T_LPAREN: {
      advance();
      nesting_enter();
      NodeId n = expression();
      nesting_leave();
      expect(T_RPAREN);
      return n;
    }
    case T_EOF: compile_fail(cerr::kEof);
    default: compile_fail(cerr::kExpression);
  }
}

NodeId Compilation::identifier_node(const std::string& name, bool call_follows) {
  int slot = symbols_.lookup(name);
  if (slot >= 0) {
    const Symbol& s = symbols_.at(slot);
    switch (s.kind) {
      case kSymLocalVar: return node(E_LVAR, 0, s.extra, s.value);
      case kSymGlobalVar: return node(E_GVAR, 0, s.extra, s.value);
      case kSymFunction:
        if (!first_use_.count(slot)) first_use_[slot] = {current_path(), current_line()};
        return node(E_ADDR, A_FUNC, function_returning(s.extra), static_cast<std::uint32_t>(slot));
      case kSymTypedef: compile_fail(cerr::kExpression);
      default: fail_undefined(name);
    }
  }
  // Not declared: a function when it is called or exported by an earlier
  // compilation.
  std::optional<ExportedFunction> exported;
  if (name.size() <= kMaxExportName) exported = find_export(name);
  if (!exported && !call_follows) fail_undefined(name);
  TypeId ret = kTypeInt;
  if (exported) {
    TypeId basic = exported->return_basic;
    ret = basic >= kTypeInt && basic <= kTypeFloat ? basic : TypeId{kTypeInt};
    for (int i = 0; i < exported->return_depth; ++i) ret = pointer_to(ret);
  }
  slot = declare_function(name, ret);
  return node(E_ADDR, A_FUNC, function_returning(ret), static_cast<std::uint32_t>(slot));
}

}  // namespace talven::script
