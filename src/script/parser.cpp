// The parser's declaration half: top-level declarations, declarators and
// parameter lists, structures, initializers, function definitions and
// statements. One pass: each statement is parsed and handed straight to the
// code generator.
#include <cstring>
#include <functional>

#include "base/messages.h"
#include "script/compiler_state.h"

namespace talven::script {

namespace {

constexpr std::uint32_t kUnsized = 0xFFFFFFFFu;

enum DeclOpKind { kOpPointer, kOpArray, kOpFunction };
struct DeclOp {
  DeclOpKind kind;
  std::uint32_t count;
};

}  // namespace

// ---- compilation loop ------------------------------------------------------------

void Compilation::compile_unit() {
  for (;;) {
    symbols_.clear_locals();
    while (tok_.kind == T_SEMI) advance();
    if (tok_.kind == T_EOF) break;  // the normal end
    std::uint32_t mark = expr_mark();
    external_declaration();
    reset_exprs(mark);
  }
}

// ---- specifiers --------------------------------------------------------------------

bool Compilation::parse_specifier(Specifier& s, bool allow_storage) {
  bool any = false;
  int sign = 0;  // T_SIGNED or T_UNSIGNED
  int size = 0;  // T_CHAR, T_SHORT or T_LONG
  bool saw_int = false, saw_float = false, saw_other = false;
  for (;;) {
    int k = tok_.kind;
    switch (k) {
      case T_STATIC:
      case T_EXTERN:
      case T_TYPEDEF:
        if (!allow_storage || (s.storage != 0 && s.storage != k)) compile_fail(cerr::kDeclaration);
        s.storage = k;
        any = true;
        advance();
        continue;
      case T_SIGNED:
      case T_UNSIGNED:
        if ((sign != 0 && sign != k) || saw_float || saw_other) compile_fail(cerr::kDeclaration);
        sign = k;
        break;
      case T_CHAR:
      case T_SHORT:
      case T_LONG:
        if ((size != 0 && size != k) || saw_float || saw_other) compile_fail(cerr::kDeclaration);
        size = k;
        break;
      case T_INT:
        if (saw_float || saw_other) compile_fail(cerr::kDeclaration);
        saw_int = true;
        break;
      case T_FLOAT:
        if (sign || size || saw_int || saw_other) compile_fail(cerr::kDeclaration);
        saw_float = true;
        break;
      case T_STRUCT:
      case T_UNION: {
        if (sign || size || saw_int || saw_float || saw_other) compile_fail(cerr::kDeclaration);
        advance();
        s.type = struct_specifier(k == T_UNION);
        s.struct_type = true;
        s.explicit_type = true;
        saw_other = true;
        any = true;
        continue;
      }
      case T_IDENT: {
        if (sign || size || saw_int || saw_float || saw_other) goto done;
        int slot = symbols_.lookup(tok_.text);
        if (slot < 0 || symbols_.at(slot).kind != kSymTypedef) goto done;
        s.type = symbols_.at(slot).extra;
        s.explicit_type = true;
        saw_other = true;
        any = true;
        advance();
        continue;
      }
      default: goto done;
    }
    any = true;
    s.explicit_type = true;
    advance();
  }
done:
  if (!saw_other) {
    if (saw_float) s.type = kTypeFloat;
    else if (size == T_CHAR) s.type = sign == T_UNSIGNED ? kTypeUChar : kTypeChar;
    else if (size == T_SHORT) s.type = sign == T_UNSIGNED ? kTypeUShort : kTypeShort;
    else s.type = sign == T_UNSIGNED ? kTypeUInt : kTypeInt;
  }
  return any;
}

TypeId Compilation::struct_specifier(bool is_union) {
  std::string tag;
  bool has_tag = false;
  if (tok_.kind == T_IDENT) {
    tag = tok_.text;
    has_tag = true;
    advance();
  }
  if (tok_.kind == T_LBRACE) {
    TypeId st = new_struct(is_union);
    if (has_tag) {
      // Tags are global and read without decoration.
      if (symbols_.find(tag, false) >= 0) compile_fail(cerr::kDeclaration);
      symbols_.add(tag, false, kSymTag, st, 0);
    }
    advance();
    member_declarations(st, is_union);
    return st;
  }
  if (!has_tag) parse_fail(cerr::kDeclaration);
  int slot = symbols_.find(tag, false);
  if (slot < 0 || symbols_.at(slot).kind != kSymTag) fail_undefined(tag);
  return symbols_.at(slot).extra;
}

// Members are packed in declaration order without gaps (all at 0 in a
// union); each is stored as NAME_n, n the structure's number.
void Compilation::member_declarations(TypeId st, bool is_union) {
  member_numbers_.push_back(static_cast<int>(tb(st)));
  std::uint64_t offset = 0, largest = 0;
  while (tok_.kind != T_RBRACE) {
    if (tok_.kind == T_EOF) compile_fail(cerr::kEof);
    Specifier s;
    bool any = parse_specifier(s, false);
    if (tok_.kind == T_SEMI && s.struct_type) {
      advance();
      continue;
    }
    if (!any && tok_.kind != T_IDENT && tok_.kind != T_STAR && tok_.kind != T_LPAREN)
      parse_fail(cerr::kDeclaration);
    for (;;) {
      Declarator d;
      d.type = s.type;
      declarator(d, false, false);
      if (!d.has_name || tkind(d.type) == TK_FUNC) compile_fail(cerr::kDeclaration);
      std::uint32_t size = complete_size(d.type);
      std::string name = d.name + "_" + std::to_string(member_numbers_.back());
      if (symbols_.find(name, false) >= 0) compile_fail(cerr::kDeclaration);
      symbols_.add(name, false, kSymMember, d.type,
                   is_union ? 0 : static_cast<std::uint32_t>(offset));
      if (is_union) largest = std::max<std::uint64_t>(largest, size);
      else offset += size;
      if (offset > 0x7FFFFFFFu) compile_fail(cerr::kDeclaration);
      if (tok_.kind != T_COMMA) break;
      advance();
    }
    if (tok_.kind != T_SEMI) fail_missing_semicolon(cerr::kDeclaration);
    advance();
  }
  member_numbers_.pop_back();
  advance();  // '}'
  set_struct_size(st, static_cast<std::uint32_t>(is_union ? largest : offset));
}

// ---- declarators ---------------------------------------------------------------------

void Compilation::declarator(Declarator& d, bool abstract_ok, bool in_params) {
  TypeId base = d.type == kTypeNone ? kTypeInt : d.type;
  // One level of a declarator: stars, then a name or a parenthesised
  // declarator, then [n] and (...) suffixes. The returned operations apply
  // to the base type in order.
  std::function<std::vector<DeclOp>()> level = [&]() -> std::vector<DeclOp> {
    nesting_enter();
    std::vector<DeclOp> ops;
    int stars = 0;
    while (tok_.kind == T_STAR) {
      ++stars;
      advance();
    }
    std::vector<DeclOp> inner;
    bool direct_name = false;
    bool nested = false;
    if (tok_.kind == T_LPAREN) {
      const Token& next = peek(1);
      if (next.kind == T_STAR || next.kind == T_LPAREN ||
          (next.kind == T_IDENT && !is_type_start(next))) {
        nested = true;
      }
    }
    if (nested) {
      advance();
      inner = level();
      expect(T_RPAREN);
    } else if (tok_.kind == T_IDENT && !d.has_name) {
      d.name = tok_.text;
      d.has_name = true;
      direct_name = true;
      advance();
    } else if (!abstract_ok) {
      missing_token("識別子");
    }
    std::vector<DeclOp> suffixes;
    bool first = true;
    while (tok_.kind == T_LBRACKET || tok_.kind == T_LPAREN) {
      if (tok_.kind == T_LBRACKET) {
        advance();
        std::uint32_t n = kUnsized;
        if (tok_.kind != T_RBRACKET) {
          n = constant_int(cerr::kNotConstant);
          if (static_cast<std::int32_t>(n) < 0) compile_fail(cerr::kDeclaration);
        }
        expect(T_RBRACKET);
        suffixes.push_back({kOpArray, n});
      } else {
        advance();
        if (direct_name && first && inner.empty()) {
          d.function_suffix = true;
          parameter_list(d, true);
        } else {
          Declarator ignored;
          parameter_list(ignored, false);
        }
        suffixes.push_back({kOpFunction, 0});
      }
      first = false;
    }
    for (int i = 0; i < stars; ++i) ops.push_back({kOpPointer, 0});
    for (auto it = suffixes.rbegin(); it != suffixes.rend(); ++it) ops.push_back(*it);
    ops.insert(ops.end(), inner.begin(), inner.end());
    nesting_leave();
    return ops;
  };
  std::vector<DeclOp> ops = level();
  TypeId t = base;
  for (const DeclOp& op : ops) {
    switch (op.kind) {
      case kOpPointer: t = pointer_to(t); break;
      case kOpArray:
        if (tkind(t) == TK_FUNC) compile_fail(cerr::kDeclaration);
        if (op.count == kUnsized) {
          // Only an old-style parameter may leave the size out: a pointer.
          if (!in_params) compile_fail(cerr::kDeclaration);
          t = pointer_to(t);
        } else {
          t = array_of(t, op.count);
        }
        break;
      case kOpFunction:
        if (tkind(t) == TK_FUNC || tkind(t) == TK_ARRAY) compile_fail(cerr::kDeclaration);
        if (is_struct(t)) compile_fail(cerr::kType);
        t = function_returning(t);
        break;
    }
  }
  d.type = t;
}

void Compilation::parameter_list(Declarator& d, bool outermost) {
  // '(' has been read.
  if (tok_.kind == T_RPAREN) {
    advance();
    return;
  }
  if (outermost) d.has_params = true;
  for (std::size_t count = 0;; ++count) {
    // "..." closes a list whose function takes further arguments.
    if (tok_.kind == T_DOT && count > 0 && peek(1).kind == T_DOT && peek(2).kind == T_DOT) {
      advance();
      advance();
      advance();
      if (outermost) d.variadic = true;
      break;
    }
    Param p;
    if (is_type_start(tok_) || tok_.kind == T_STATIC || tok_.kind == T_TYPEDEF ||
        tok_.kind == T_EXTERN) {
      Specifier s;
      parse_specifier(s, false);
      Declarator pd;
      pd.type = s.type;
      declarator(pd, true, false);
      // Every parameter of a parenthesised list must be named.
      if (!pd.has_name) parse_fail(cerr::kDeclaration);
      if (is_struct(pd.type)) compile_fail(cerr::kType);
      p.name = pd.name;
      p.type = array_to_pointer(pd.type);
    } else if (tok_.kind == T_IDENT) {
      p.name = tok_.text;
      p.by_name = true;
      advance();
    } else {
      parse_fail(cerr::kDeclaration);
    }
    if (outermost) d.params.push_back(std::move(p));
    if (tok_.kind != T_COMMA) break;
    advance();
  }
  expect(T_RPAREN);
}

// ---- declared parameters ---------------------------------------------------------------

namespace {

// The runtime's formatting builtins take further arguments after the ones
// their declarations name, whether or not a header marks them with "...".
bool takes_further_arguments(std::string_view builtin) {
  return builtin == "gtextf" || builtin == "sprintf" || builtin == "log_out" ||
         builtin == "dll_call";
}

std::string arguments_word(std::size_t n) {
  return std::to_string(n) + (n == 1 ? " argument" : " arguments");
}

}  // namespace

void Compilation::record_signature(int sym, const Declarator& d, bool builtin) {
  Signature sig;
  sig.builtin = builtin;
  sig.variadic = d.variadic || (builtin && takes_further_arguments(symbols_.name(sym)));
  for (const Param& p : d.params) sig.float_params.push_back(p.type == kTypeFloat);
  signatures_[sym] = std::move(sig);
}

// Calls to a builtin or to a function whose parameters are known: a count
// that differs from the declaration, and a constant whose kind (integer or
// float) differs from its parameter's, are warned about. Arguments are
// passed as they are either way: 2 for a float parameter arrives as the
// bits of a tiny float, not as 2.0.
void Compilation::check_call_arguments(NodeId callee, const std::vector<NodeId>& args) {
  if (nkind(callee) != E_ADDR || naux(callee) != A_FUNC) return;
  int sym = static_cast<int>(na(callee));
  auto it = signatures_.find(sym);
  if (it == signatures_.end()) return;
  const Signature& sig = it->second;
  const std::string name = symbols_.name(sym);
  const std::size_t declared = sig.float_params.size();
  const char* kind = sig.builtin ? "builtin " : "function ";
  if (args.size() < declared || (args.size() > declared && !sig.variadic)) {
    std::string expected =
        sig.variadic ? "at least " + arguments_word(declared) : arguments_word(declared);
    warn("警告: " + name + " の引数は " + std::to_string(declared) + " 個ですが、" +
             std::to_string(args.size()) + " 個渡されています。",
         "warning: " + std::string(kind) + display_text(name) + " takes " + expected + ", " +
             std::to_string(args.size()) + " given");
  }
  for (std::size_t i = 0; i < args.size() && i < declared; ++i) {
    if (!is_const(args[i])) continue;
    const bool float_const = ntype(args[i]) == kTypeFloat;
    if (float_const == sig.float_params[i]) continue;
    const std::string which = "argument " + std::to_string(i + 1) + " of " + display_text(name);
    if (sig.float_params[i])
      warn("警告: " + name + " の第 " + std::to_string(i + 1) +
               " 引数は float ですが、整数の定数が渡されています。",
           "warning: " + which +
               " is a float; the integer constant is passed as its bits, "
               "not converted (write it with a decimal point)");
    else
      warn("警告: " + name + " の第 " + std::to_string(i + 1) +
               " 引数は整数ですが、float の定数が渡されています。",
           "warning: " + which +
               " is not a float; the float constant is passed as its bits, "
               "not converted");
  }
}

// ---- top-level declarations ----------------------------------------------------------

int Compilation::declare_function(const std::string& name, TypeId ret) {
  int label = new_label();
  int slot = symbols_.add(name, false, kSymFunction, ret, static_cast<std::uint32_t>(label));
  first_use_[slot] = {current_path(), current_line()};
  return slot;
}

// The function symbol for a declaration: an earlier one must agree on the
// return type; a name that means something else is a bad declaration.
int Compilation::function_symbol(const std::string& name, TypeId ret, int& slot_out) {
  int slot = symbols_.find(name, false);
  if (slot >= 0) {
    if (symbols_.at(slot).kind != kSymFunction) compile_fail(cerr::kDeclaration);
    if (symbols_.at(slot).extra != ret) compile_fail(cerr::kType);
  } else {
    slot = declare_function(name, ret);
  }
  slot_out = slot;
  return slot;
}

void Compilation::external_declaration() {
  Specifier s;
  bool any = parse_specifier(s, true);
  if (tok_.kind == T_SEMI && any) {
    advance();
    return;
  }
  if (!any && tok_.kind != T_IDENT && tok_.kind != T_STAR && tok_.kind != T_LPAREN)
    parse_fail(cerr::kDeclaration);
  for (;;) {
    Declarator d;
    d.type = s.type;
    declarator(d, false, false);
    if (!d.has_name) parse_fail(cerr::kDeclaration);
    int trap = pending_trap_;
    pending_trap_ = -1;
    if (s.storage == T_TYPEDEF) {
      if (trap >= 0) compile_fail(cerr::kDeclaration);
      if (symbols_.find(d.name, false) >= 0) compile_fail(cerr::kDeclaration);
      symbols_.add(d.name, false, kSymTypedef, d.type, 0);
    } else if (tkind(d.type) == TK_FUNC) {
      TypeId ret = static_cast<TypeId>(ta(d.type));
      int slot;
      function_symbol(d.name, ret, slot);
      if (trap >= 0) {
        // A builtin: its body is the trap stub.
        if (labels_[symbols_.at(slot).value].defined) compile_fail(cerr::kDeclaration);
        emit_builtin_stub(slot, trap);
        record_signature(slot, d, true);
      } else if (d.function_suffix && (d.has_params || tok_.kind == T_LBRACE)) {
        function_definition(slot, d, s.storage == T_EXTERN);
        return;
      }
    } else {
      if (trap >= 0) compile_fail(cerr::kDeclaration);
      declare_global_variable(d, s, false);
    }
    if (tok_.kind == T_COMMA) {
      advance();
      continue;
    }
    if (tok_.kind == T_SEMI) {
      advance();
      return;
    }
    fail_missing_semicolon(cerr::kDeclaration);
  }
}

void Compilation::function_definition(int sym, Declarator& d, bool exported) {
  int label = static_cast<int>(symbols_.at(sym).value);
  if (labels_[label].defined) compile_fail(cerr::kDeclaration);
  std::string name = symbols_.name(sym);

  // Parameters: first at r6 + 8, each one slot of 4 bytes.
  std::vector<bool> retypable;
  for (std::size_t i = 0; i < d.params.size(); ++i) {
    const Param& p = d.params[i];
    if (symbols_.find(p.name, true) >= 0) compile_fail(cerr::kDeclaration);
    symbols_.add(p.name, true, kSymLocalVar, p.type, static_cast<std::uint32_t>(8 + 4 * i));
    retypable.push_back(p.by_name);
  }
  // Old-style declarations between ')' and '{' give types to parameters
  // declared by name.
  while (tok_.kind != T_LBRACE) {
    if (tok_.kind == T_EOF) compile_fail(cerr::kEof);
    Specifier s;
    bool any = parse_specifier(s, false);
    if (!any && tok_.kind != T_IDENT && tok_.kind != T_STAR && tok_.kind != T_LPAREN)
      parse_fail(cerr::kDeclaration);
    for (;;) {
      Declarator pd;
      pd.type = s.type;
      declarator(pd, true, true);
      if (!pd.has_name) parse_fail(cerr::kDeclaration);
      int slot = symbols_.find(pd.name, true);
      if (slot < 0) compile_fail(cerr::kDeclaration);
      std::size_t index = (symbols_.at(slot).value - 8) / 4;
      if (index >= retypable.size() || !retypable[index]) compile_fail(cerr::kDeclaration);
      retypable[index] = false;
      if (is_struct(pd.type)) compile_fail(cerr::kType);
      symbols_.at(slot).extra = array_to_pointer(pd.type);
      if (tok_.kind != T_COMMA) break;
      advance();
    }
    if (tok_.kind != T_SEMI) fail_missing_semicolon(cerr::kDeclaration);
    advance();
  }

  {
    // Calls from here on (the body included) are checked against the
    // parameters as their types now stand.
    Declarator typed = d;
    for (Param& p : typed.params) {
      int slot = symbols_.find(p.name, true);
      if (slot >= 0) p.type = symbols_.at(slot).extra;
    }
    record_signature(sym, typed, false);
  }

  if (exported) {
    // Checked in both modes so that measuring and compiling agree.
    if (name.size() > kMaxExportName) compile_fail(cerr::kDeclaration);
    if (!find_export(name)) {
      std::size_t fresh = 1;
      for (const PendingExport& e : exports_)
        if (e.name != name && !find_export(e.name)) ++fresh;
      if (export_count() + fresh > kMaxExports) compile_fail(cerr::kDeclaration);
    }
  }

  in_function_ = true;
  frame_size_ = 0;
  local_arrays_.clear();
  return_label_ = new_label();
  breakables_.clear();
  place_file_ = tok_.file;
  place_line_ = tok_.line;
  emit_function_entry(sym);
  block();
  emit_function_exit(return_label_, frame_size_);
  in_function_ = false;
  if (exported) exports_.push_back(PendingExport{name, sym});
}

void Compilation::declare_global_variable(const Declarator& d, const Specifier& s,
                                          bool is_static_local) {
  bool local = is_static_local;
  if (symbols_.find(d.name, local) >= 0) compile_fail(cerr::kDeclaration);
  std::uint32_t size = complete_size(d.type);
  Addr address;
  if (s.storage == T_EXTERN && !is_static_local) {
    // Shared heap: offsets from 0 in declaration order.
    if (heap_.base == 0 && heap_.size == 0)
      heap_ = options_.heap ? *options_.heap : shared_script_heap();
    if (heap_.base == 0 || static_cast<std::uint64_t>(heap_used_) + size > heap_.size)
      compile_fail(cerr::kNodesFull);
    address = heap_.base + heap_used_;
    heap_used_ += size;
  } else {
    address = place_data(size);
  }
  symbols_.add(d.name, local, kSymGlobalVar, d.type, address);
  if (tkind(d.type) == TK_ARRAY && size > 0)
    global_arrays_[address] = DeclaredArray{address, size, display_text(d.name)};
  if (tok_.kind == T_ASSIGN) {
    advance();
    global_initializer(d.type, address);
  }
}

// ---- initializers ----------------------------------------------------------------------

void Compilation::global_initializer(TypeId t, Addr address) {
  std::uint32_t mark = expr_mark();
  if (tok_.kind == T_LBRACE) {
    if (tkind(t) != TK_ARRAY) compile_fail(cerr::kType);
    global_init_list(t, address);
  } else {
    if (!is_scalar(t)) compile_fail(cerr::kType);
    global_init_scalar(t, address);
  }
  reset_exprs(mark);
}

void Compilation::global_init_scalar(TypeId t, Addr address) {
  std::uint32_t mark = expr_mark();
  NodeId e = rvalue(assignment_expression());
  while (nkind(e) == E_RETYPE && !is_location(nodea(e))) e = nodea(e);
  std::uint32_t size = complete_size(t);
  std::uint32_t value = 0;
  if (is_const(e)) {
    bool from_float = ntype(e) == kTypeFloat;
    if (t == kTypeFloat) {
      value = from_float ? na(e) : na(to_float(const_node(kTypeInt, na(e))));
    } else {
      if (from_float && is_pointer(t)) compile_fail(cerr::kType);
      value = from_float ? na(to_int(e)) : na(e);
    }
  } else if (nkind(e) == E_ADDR) {
    // Addresses only fit 32-bit integer and pointer variables.
    if (size != 4 || t == kTypeFloat) compile_fail(cerr::kType);
    switch (naux(e)) {
      case A_GLOBAL: value = na(e); break;
      case A_STRING: value = place_string(symbols_.text(na(e)), nb(e)) + nc(e); break;
      default: {
        // A function's address: patched like a jump when still forward.
        int label = static_cast<int>(symbols_.at(static_cast<int>(na(e))).value);
        if (image_ && address >= program_ && address - program_ + 4 <= capacity_) {
          label_reference(address - program_, label);
          reset_exprs(mark);
          return;
        }
        const LabelEntry& l = labels_[label];
        value = l.defined ? l.word : 0;
        break;
      }
    }
  } else {
    compile_fail(cerr::kType);
  }
  std::uint8_t bytes[4];
  put_u32(bytes, value);
  write_image(address, bytes, size);
  reset_exprs(mark);
}

namespace {

struct Aggregate {
  const Compilation& c;
  std::uint64_t leaves(TypeId t) const {
    if (c.tkind(t) != TK_ARRAY) return 1;
    return static_cast<std::uint64_t>(c.tb(t)) * leaves(static_cast<TypeId>(c.ta(t)));
  }
  TypeId leaf(TypeId t) const {
    while (c.tkind(t) == TK_ARRAY) t = static_cast<TypeId>(c.ta(t));
    return t;
  }
  // The sub-array that starts at leaf p, or kTypeNone when p is inside a
  // scalar position.
  TypeId sub_aggregate(TypeId t, std::uint64_t p) const {
    TypeId e = static_cast<TypeId>(c.ta(t));
    if (c.tkind(e) != TK_ARRAY) return kTypeNone;
    std::uint64_t n = leaves(e);
    if (n == 0) return kTypeNone;
    if (p % n == 0) return e;
    return sub_aggregate(e, p % n);
  }
};

}  // namespace

void Compilation::global_init_list(TypeId t, Addr address) {
  nesting_enter();
  advance();  // '{'
  Aggregate agg{*this};
  std::uint64_t count = agg.leaves(t);
  TypeId leaf = agg.leaf(t);
  if (!is_scalar(leaf)) compile_fail(cerr::kType);
  std::uint32_t leaf_size = complete_size(leaf);
  std::uint64_t p = 0;
  while (tok_.kind != T_RBRACE) {
    if (tok_.kind == T_COMMA) {  // an empty place skips an element
      ++p;
      advance();
      continue;
    }
    if (p >= count) compile_fail(cerr::kType);
    if (tok_.kind == T_LBRACE) {
      TypeId sub = agg.sub_aggregate(t, p);
      if (sub == kTypeNone) compile_fail(cerr::kType);
      global_init_list(sub, address + static_cast<Addr>(p * leaf_size));
      p += agg.leaves(sub);
    } else {
      global_init_scalar(leaf, address + static_cast<Addr>(p * leaf_size));
      ++p;
    }
    if (tok_.kind != T_COMMA) break;
    advance();
  }
  if (tok_.kind != T_RBRACE) parse_fail(cerr::kSyntax);
  advance();
  nesting_leave();
}

void Compilation::local_initializer(TypeId t, std::int32_t offset) {
  if (tok_.kind == T_LBRACE) {
    if (tkind(t) != TK_ARRAY) compile_fail(cerr::kType);
    local_init_list(t, offset);
    return;
  }
  // Structures and arrays (a char array from a string included) cannot be
  // initialized from a single value.
  if (!is_scalar(t)) compile_fail(cerr::kType);
  local_init_scalar(t, offset);
}

void Compilation::local_init_scalar(TypeId t, std::int32_t offset) {
  std::uint32_t mark = expr_mark();
  NodeId target = node(E_LVAR, 0, t, static_cast<std::uint32_t>(offset));
  NodeId e = make_assign(T_ASSIGN, target, assignment_expression());
  reset_slots();
  gen(e);
  reset_exprs(mark);
}

void Compilation::local_init_list(TypeId t, std::int32_t offset) {
  nesting_enter();
  advance();  // '{'
  Aggregate agg{*this};
  std::uint64_t count = agg.leaves(t);
  TypeId leaf = agg.leaf(t);
  if (!is_scalar(leaf)) compile_fail(cerr::kType);
  std::uint32_t leaf_size = complete_size(leaf);
  std::uint64_t p = 0;
  while (tok_.kind != T_RBRACE) {
    if (tok_.kind == T_COMMA) {
      ++p;
      advance();
      continue;
    }
    if (p >= count) compile_fail(cerr::kType);
    std::int32_t at = offset + static_cast<std::int32_t>(p * leaf_size);
    if (tok_.kind == T_LBRACE) {
      TypeId sub = agg.sub_aggregate(t, p);
      if (sub == kTypeNone) compile_fail(cerr::kType);
      local_init_list(sub, at);
      p += agg.leaves(sub);
    } else {
      local_init_scalar(leaf, at);
      ++p;
    }
    if (tok_.kind != T_COMMA) break;
    advance();
  }
  if (tok_.kind != T_RBRACE) parse_fail(cerr::kSyntax);
  advance();
  nesting_leave();
}

// ---- declarations in function bodies ---------------------------------------------------

void Compilation::local_declaration() {
  Specifier s;
  parse_specifier(s, true);
  if (tok_.kind == T_SEMI) {
    advance();
    return;
  }
  for (;;) {
    Declarator d;
    d.type = s.type;
    declarator(d, false, false);
    if (!d.has_name) parse_fail(cerr::kDeclaration);
    if (s.storage == T_TYPEDEF) {
      if (symbols_.find(d.name, false) >= 0) compile_fail(cerr::kDeclaration);
      symbols_.add(d.name, false, kSymTypedef, d.type, 0);
    } else if (tkind(d.type) == TK_FUNC) {
      int slot;
      function_symbol(d.name, static_cast<TypeId>(ta(d.type)), slot);
    } else if (s.storage == T_STATIC) {
      declare_global_variable(d, s, true);
    } else {
      // One local scope per function: a name is declared once.
      if (symbols_.find(d.name, true) >= 0) compile_fail(cerr::kDeclaration);
      std::uint32_t size = complete_size(d.type);
      if (static_cast<std::uint64_t>(frame_size_) + size + 20 > 0x7FFFFFFFu)
        compile_fail(cerr::kNodesFull);
      frame_size_ += size;
      std::int32_t offset = -static_cast<std::int32_t>(20 + frame_size_);
      symbols_.add(d.name, true, kSymLocalVar, d.type, static_cast<std::uint32_t>(offset));
      if (tkind(d.type) == TK_ARRAY && size > 0)
        local_arrays_.push_back(
            DeclaredArray{static_cast<std::uint32_t>(offset), size, display_text(d.name)});
      if (tok_.kind == T_ASSIGN) {
        advance();
        local_initializer(d.type, offset);
      }
    }
    if (tok_.kind == T_COMMA) {
      advance();
      continue;
    }
    if (tok_.kind == T_SEMI) {
      advance();
      return;
    }
    fail_missing_semicolon(cerr::kDeclaration);
  }
}

// ---- statements --------------------------------------------------------------------------

void Compilation::block() {
  nesting_enter();
  advance();  // '{'
  while (tok_.kind != T_RBRACE) {
    if (tok_.kind == T_EOF) compile_fail(cerr::kEof);
    statement();
  }
  advance();
  nesting_leave();
}

void Compilation::statement() {
  nesting_enter();
  // Code of this statement is placed at its first token; what follows a
  // nested statement (a loop's step, say) goes back to this one's place.
  const int outer_file = place_file_, outer_line = place_line_;
  place_file_ = tok_.file;
  place_line_ = tok_.line;
  std::uint32_t mark = expr_mark();
  switch (tok_.kind) {
    case T_LBRACE: block(); break;
    case T_SEMI: advance(); break;
    case T_IF: if_statement(); break;
    case T_WHILE: while_statement(); break;
    case T_DO: do_statement(); break;
    case T_FOR: for_statement(); break;
    case T_SWITCH: switch_statement(); break;
    case T_CASE: case_labels(); break;
    case T_DEFAULT: default_label(); break;
    case T_BREAK: {
      advance();
      if (breakables_.empty()) compile_fail(cerr::kSyntax);
      emit_jump(breakables_.back().break_label);
      expect(T_SEMI);
      break;
    }
    case T_CONTINUE: {
      advance();
      int target = 0;
      for (auto it = breakables_.rbegin(); it != breakables_.rend(); ++it) {
        if (!it->is_switch) {
          target = it->continue_label;
          break;
        }
      }
      if (target == 0) compile_fail(cerr::kSyntax);
      emit_jump(target);
      expect(T_SEMI);
      break;
    }
    case T_RETURN: return_statement(); break;
    case T_GOTO: goto_statement(); break;
    case T_INT:
    case T_CHAR:
    case T_STRUCT:
    case T_UNION:
    case T_SIGNED:
    case T_UNSIGNED:
    case T_LONG:
    case T_SHORT:
    case T_FLOAT:
    case T_STATIC:
    case T_EXTERN:
    case T_TYPEDEF: local_declaration(); break;
    case T_IDENT:
      if (peek(1).kind == T_COLON) {
        std::string name = tok_.text;
        label_statement(name);
      } else if (is_type_start(tok_)) {
        local_declaration();
      } else {
        expression_statement();
      }
      break;
    case T_EOF: compile_fail(cerr::kEof);
    case T_ELSE: compile_fail(cerr::kSyntax);
    default: expression_statement(); break;
  }
  reset_exprs(mark);
  place_file_ = outer_file;
  place_line_ = outer_line;
  nesting_leave();
}

void Compilation::expression_statement() {
  NodeId e = expression();
  reset_slots();
  if (!is_location(e) || is_scalar(ntype(e))) gen(rvalue(e));
  expect(T_SEMI);
}

// "( expression )" of if, while and do: a scalar value.
NodeId Compilation::parenthesised_condition() {
  expect(T_LPAREN);
  NodeId c = rvalue(expression());
  expect(T_RPAREN);
  if (!is_scalar(vtype(c))) compile_fail(cerr::kType);
  return c;
}

void Compilation::if_statement() {
  advance();
  NodeId c = parenthesised_condition();
  int else_label = new_label();
  condition_statement(c, false, else_label);
  statement();
  if (tok_.kind == T_ELSE) {
    advance();
    int end_label = new_label();
    if (reachable_) emit_jump(end_label);
    define_label(else_label);
    statement();
    define_label(end_label);
  } else {
    define_label(else_label);
  }
}

void Compilation::while_statement() {
  advance();
  NodeId c = parenthesised_condition();
  int break_label = new_label();
  int continue_label = here_label();
  if (tok_.kind == T_SEMI) {
    // An empty body: the condition alone loops.
    advance();
    condition_statement(c, true, continue_label);
    define_label(break_label);
    return;
  }
  condition_statement(c, false, break_label);
  breakables_.push_back(Breakable{break_label, continue_label, false, 0, 0, 0});
  statement();
  breakables_.pop_back();
  if (reachable_) emit_jump(continue_label);
  define_label(break_label);
}

void Compilation::do_statement() {
  advance();
  int top = here_label();
  int break_label = new_label();
  int continue_label = new_label();
  breakables_.push_back(Breakable{break_label, continue_label, false, 0, 0, 0});
  statement();
  breakables_.pop_back();
  define_label(continue_label);
  expect(T_WHILE);
  NodeId c = parenthesised_condition();
  condition_statement(c, true, top);
  define_label(break_label);
  expect(T_SEMI);
}

void Compilation::for_statement() {
  advance();
  expect(T_LPAREN);
  std::uint32_t mark = expr_mark();
  if (tok_.kind != T_SEMI) {
    NodeId init = expression();
    reset_slots();
    if (!is_location(init) || is_scalar(ntype(init))) gen(rvalue(init));
    reset_exprs(mark);
  }
  expect(T_SEMI);
  int top = here_label();
  int break_label = new_label();
  if (tok_.kind != T_SEMI) {
    NodeId c = rvalue(expression());
    if (!is_scalar(vtype(c))) compile_fail(cerr::kType);
    condition_statement(c, false, break_label);
    reset_exprs(mark);
  }
  expect(T_SEMI);
  // The step is parsed now and compiled after the body; its tree stays
  // below the body's statements.
  NodeId step = kNoNode;
  if (tok_.kind != T_RPAREN) step = expression();
  expect(T_RPAREN);
  int continue_label = step == kNoNode ? top : new_label();
  breakables_.push_back(Breakable{break_label, continue_label, false, 0, 0, 0});
  statement();
  breakables_.pop_back();
  if (step != kNoNode) {
    define_label(continue_label);
    reset_slots();
    if (!is_location(step) || is_scalar(ntype(step))) gen(rvalue(step));
  }
  emit_jump(top);
  define_label(break_label);
  reset_exprs(mark);
}

void Compilation::switch_statement() {
  advance();
  expect(T_LPAREN);
  NodeId v = rvalue(expression());
  expect(T_RPAREN);
  if (!is_scalar(vtype(v))) compile_fail(cerr::kType);
  reset_slots();
  gen(v);
  Breakable sw;
  sw.is_switch = true;
  sw.switch_reg = top_reg();
  sw.break_label = new_label();
  // The first case's tests follow the value directly.
  reachable_ = false;
  breakables_.push_back(sw);
  std::size_t index = breakables_.size() - 1;
  statement();
  Breakable done = breakables_[index];
  breakables_.pop_back();
  if (done.default_label != 0) {
    if (done.next_label != 0) {
      if (reachable_) emit_jump(done.break_label);
      define_label(done.next_label);
      emit_jump(done.default_label);
    }
  } else if (done.next_label != 0) {
    define_label(done.next_label);
  }
  define_label(done.break_label);
}

namespace {

Breakable* innermost_switch(std::vector<Breakable>& stack) {
  for (auto it = stack.rbegin(); it != stack.rend(); ++it)
    if (it->is_switch) return &*it;
  return nullptr;
}

}  // namespace

void Compilation::case_labels() {
  if (!innermost_switch(breakables_)) compile_fail(cerr::kSyntax);
  std::vector<std::uint32_t> values;
  while (tok_.kind == T_CASE) {
    advance();
    values.push_back(constant_int(cerr::kNotConstant));
    expect(T_COLON);
  }
  Breakable* sw = innermost_switch(breakables_);
  int body = new_label();
  if (reachable_) emit_jump(body);
  if (sw->next_label != 0) {
    define_label(sw->next_label);
    sw->next_label = 0;
  }
  for (std::size_t i = 0; i < values.size(); ++i) {
    emit_ri(OP_CMP_IMM, sw->switch_reg, sw->switch_reg, values[i]);
    if (i + 1 < values.size()) {
      emit_label_ref(OP_JE, body);
    } else {
      sw->next_label = new_label();
      emit_label_ref(OP_JNE, sw->next_label);
    }
  }
  define_label(body);
  if (tok_.kind != T_RBRACE) statement();
}

void Compilation::default_label() {
  Breakable* sw = innermost_switch(breakables_);
  if (!sw || sw->default_label != 0) compile_fail(cerr::kSyntax);
  advance();
  expect(T_COLON);
  if (sw->next_label == 0) {
    sw->next_label = new_label();
    emit_jump(sw->next_label);
  }
  sw->default_label = here_label();
  if (tok_.kind != T_RBRACE) statement();
}

void Compilation::return_statement() {
  advance();
  if (tok_.kind != T_SEMI) {
    NodeId e = rvalue(expression());
    if (!is_scalar(vtype(e))) compile_fail(cerr::kType);
    reset_slots();
    gen(e);
    move_top_to(kRegResult);
  }
  emit_jump(return_label_);
  expect(T_SEMI);
}

void Compilation::goto_statement() {
  advance();
  if (tok_.kind != T_IDENT) {
    missing_token("識別子");
    expect(T_SEMI);
    return;
  }
  std::string name = tok_.text;
  advance();
  int slot = symbols_.find(name, false);
  if (slot < 0) {
    slot = symbols_.add(name, false, kSymLabelUsed, 0, static_cast<std::uint32_t>(new_label()));
    first_use_[slot] = {current_path(), current_line()};
  } else if (symbols_.at(slot).kind != kSymLabel && symbols_.at(slot).kind != kSymLabelUsed) {
    compile_fail(cerr::kSyntax);
  }
  emit_jump(static_cast<int>(symbols_.at(slot).value));
  expect(T_SEMI);
}

// Statement labels are global: a name is defined once per compilation.
void Compilation::label_statement(const std::string& name) {
  advance();  // name
  advance();  // ':'
  int slot = symbols_.find(name, false);
  if (slot < 0) {
    symbols_.add(name, false, kSymLabel, 0, static_cast<std::uint32_t>(here_label()));
  } else if (symbols_.at(slot).kind == kSymLabelUsed) {
    define_label(static_cast<int>(symbols_.at(slot).value));
    symbols_.at(slot).kind = kSymLabel;
  } else if (symbols_.at(slot).kind == kSymLabel) {
    compile_fail(cerr::kType);
  } else {
    compile_fail(cerr::kSyntax);
  }
  if (tok_.kind != T_RBRACE) statement();
}

}  // namespace talven::script
