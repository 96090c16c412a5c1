// The state of one compilation, shared by the preprocessor (preproc.cpp),
// the lexer (lexer.cpp), the parser (parser.cpp, parser_expr.cpp) and the
// code generator (codegen.cpp). compile_script() (compiler.cpp) creates one
// Compilation per call; nothing here is static, so compilations never
// disturb each other.
//
// Fatal errors throw CompileError; compile_script catches it, reports the
// message with the current source line and returns failure.
#pragma once

#include <array>
#include <map>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "script/array_bounds.h"
#include "script/compiler.h"
#include "script/line_table.h"
#include "script/opcodes.h"
#include "script/symbols.h"

namespace talven::script {

// ---- tokens ----------------------------------------------------------------

enum Tok : int {
  T_EOF = 0,
  T_IDENT,
  T_CONST,
  T_STRING,
  // keywords ("void" reads as T_INT)
  T_INT,
  T_CHAR,
  T_STRUCT,
  T_UNION,
  T_SIGNED,
  T_UNSIGNED,
  T_STATIC,
  T_GOTO,
  T_RETURN,
  T_BREAK,
  T_CONTINUE,
  T_IF,
  T_ELSE,
  T_FOR,
  T_DO,
  T_WHILE,
  T_SWITCH,
  T_CASE,
  T_DEFAULT,
  T_TYPEDEF,
  T_SIZEOF,
  T_LONG,
  T_SHORT,
  T_FLOAT,
  T_EXTERN,
  // punctuators
  T_NOT,         // !
  T_NE,          // !=
  T_MOD,         // %
  T_MOD_ASSIGN,  // %=
  T_AMP,         // &
  T_AND_ASSIGN,  // &=
  T_ANDAND,      // &&
  T_LPAREN,
  T_RPAREN,
  T_STAR,
  T_MUL_ASSIGN,
  T_PLUS,
  T_ADD_ASSIGN,
  T_INC,
  T_COMMA,
  T_MINUS,
  T_SUB_ASSIGN,
  T_DEC,
  T_ARROW,
  T_DOT,
  T_SLASH,
  T_DIV_ASSIGN,
  T_COLON,
  T_SEMI,
  T_LT,
  T_LE,
  T_SHL,
  T_SHL_ASSIGN,
  T_ASSIGN,
  T_EQ,
  T_GT,
  T_GE,
  T_SHR,
  T_SHR_ASSIGN,
  T_QUESTION,
  T_LBRACKET,
  T_RBRACKET,
  T_XOR,
  T_XOR_ASSIGN,
  T_LBRACE,
  T_OR,
  T_OR_ASSIGN,
  T_OROR,
  T_RBRACE,
  T_TILDE,
};

struct Token {
  int kind = T_EOF;
  std::uint32_t value = 0;  // constant bits (an int or a float's bit pattern)
  bool is_float = false;
  std::string text;  // identifier name, or the bytes of a string literal
  int file = 0;      // where it starts: index into Compilation::file_names_
  int line = 0;
};

// ---- types -------------------------------------------------------------------
//
// A type is a basic type (1..7) or a node of the node area (kTypeNodeBase +
// word index). Pointer, array and function types are shared: the same type
// is always the same node, so types compare as numbers.

using TypeId = std::int32_t;
enum : TypeId {
  kTypeNone = 0,
  kTypeInt = 1,
  kTypeShort = 2,
  kTypeChar = 3,
  kTypeUInt = 4,
  kTypeUShort = 5,
  kTypeUChar = 6,
  kTypeFloat = 7,
};
constexpr TypeId kTypeNodeBase = 16;

enum TypeKind : std::uint32_t {
  TK_PTR = 1,     // a: target
  TK_ARRAY = 2,   // a: element, b: count
  TK_FUNC = 3,    // a: return type
  TK_STRUCT = 4,  // a: size (0xFFFFFFFF while incomplete), b: number
  TK_UNION = 5,
};

// ---- expression nodes ----------------------------------------------------------
//
// Four words in the node area: header (kind | aux << 8 | type << 16) and
// three operands. Built from the top of the area down, reset after each
// statement, initializer and function declarator.
//
// A global address (E_ADDR A_GLOBAL), a frame address (E_LEA) and the
// locations at them (E_GVAR, E_LVAR) that constant pointer arithmetic
// folded keep b = kFromBase and c = the address or displacement the
// arithmetic started from, so a store at a folded place still knows the
// array it was indexed from (buf[4] is not inside buf, but comes from it).

using NodeId = std::int32_t;
constexpr NodeId kNoNode = -1;

enum ExprKind : std::uint8_t {
  E_CONST = 1,  // a: value bits
  E_ADDR,       // address constant; aux: A_*
  E_LEA,        // address of a frame location; a: displacement
  E_GVAR,       // location at an absolute address; a: address
  E_LVAR,       // location in the frame; a: displacement
  E_DEREF,      // location through a pointer; a: address expression
  E_UNARY,      // aux: opcode; a: operand
  E_BINARY,     // aux: opcode; a: left, b: right
  E_RETYPE,     // a: operand (same bits, another type)
  E_COMPARE,    // aux: C_* | flags; a: left, b: right
  E_LOGAND,     // a, b
  E_LOGOR,      // a, b
  E_COND,       // a: condition, b: then, c: else
  E_COMMA,      // a: left, b: right
  E_ASSIGN,     // a: location, b: value
  E_COMPOUND,   // aux: opcode; a: location, b: value
  E_INCDEC,     // aux: INC_*; a: location, b: step
  E_CALL,       // a: callee, b: first argument (E_ARG) or kNoNode, c: count
  E_ARG,        // a: expression, b: next
};

constexpr std::uint32_t kFromBase = 1;

enum AddrKind : std::uint8_t {
  A_GLOBAL = 0,  // a: absolute address
  A_STRING = 1,  // a: text offset in the pool, b: length, c: byte offset
  A_FUNC = 2,    // a: function symbol slot
};

enum CompareOp : std::uint8_t {
  C_EQ = 0,
  C_NE = 1,
  C_GT = 2,
  C_GE = 3,
  C_LT = 4,
  C_LE = 5,
  C_UNSIGNED = 8,
  C_FLOAT = 16,
};

enum IncDecFlags : std::uint8_t {
  INC_DEC = 1,   // decrement
  INC_POST = 2,  // postfix
};

constexpr int kNodeWords = 8192;

// ---- preprocessor ---------------------------------------------------------------

constexpr int kMaxIncludeDepth = 16;
constexpr int kMaxMacroDepth = 16;
constexpr int kLineBufferSize = 4096;
constexpr int kMaxLineLength = 4094;
constexpr int kMaxIdentifier = 4094;
constexpr std::size_t kOpenedNamesSize = 4096;
constexpr std::size_t kMessageBufferSize = 8192;
constexpr int kMaxLabels = 8192;

struct SourceFile {
  std::string path;  // script_dir + name, as opened
  std::string text;  // the whole file plus one line feed
  std::size_t pos = 0;
  int line = 0;   // lines read so far
  int index = 0;  // in Compilation::file_names_
};

struct MacroLevel {
  const char* resume;     // where reading continues
  std::uint32_t arg_pos;  // argument area position to restore
  int saved_char;         // character that was current, or kNoChar
  // Parameter entries (slot, body) of an enclosing invocation of the same
  // macro that this invocation overwrote; put back when its body ends.
  std::vector<std::pair<int, std::uint32_t>> saved_params;
};

constexpr int kEofChar = -1;
constexpr int kNoChar = -2;

// ---- code generation ------------------------------------------------------------

struct Slots {
  std::uint8_t reg[6];
  bool reserved[6];
  int top;
  int spare;
  std::vector<int> saved;  // slot numbers, kSpill for a value pushed on the stack
};
constexpr int kSpill = -1;

struct LabelEntry {
  bool defined = false;
  std::uint32_t word = 0;  // defined: address; forward: offset of the last reference
};

// A loop or switch the statements are inside of.
struct Breakable {
  int break_label = 0;
  int continue_label = 0;  // 0 for a switch
  bool is_switch = false;
  unsigned switch_reg = 0;
  int next_label = 0;  // switch: where the next failed test goes
  int default_label = 0;
};

// A function that `extern` exports once the compilation succeeds.
struct PendingExport {
  std::string name;
  int symbol;
};

// ---- the compilation ------------------------------------------------------------------

class Compilation {
 public:
  Compilation(const CompileOptions& options);
  CompileResult run(std::string_view path, Addr program, std::uint32_t capacity);

  // ---- compiler.cpp: messages ----
  void append_message(const std::string& text, const std::string& file, int line);
  void report_fatal(int number);
  void missing_token(const char* what);
  std::string current_path() const;
  int current_line() const;

  // ---- preproc.cpp: sources, lines, directives, macros ----
  void open_source(const std::string& name);
  void decode_text(SourceFile& file);
  int raw_byte();
  bool read_line();
  bool directive();
  void do_define(const char* p);
  void do_include(const char* p);
  int next_char();
  void expand_macro(int slot);
  bool try_paste();
  std::string collect_argument_text(bool parenthesised, std::vector<std::string>& args);
  int line_position() const;

  // ---- lexer.cpp ----
  void nextc() { ch_ = next_char(); }
  // Reads the next token into `t` (all of its fields are set).
  void lex_into(Token& t);
  int read_escape();
  void skip_space_and_comments();
  void read_number(Token& t);
  void read_identifier_chars(std::string& name);

  // token stream for the parser
  void advance();
  const Token& peek(std::size_t n);  // n = 1: the token after the current one
  bool accept(int kind) {
    if (tok_.kind != kind) return false;
    advance();
    return true;
  }
  void expect(int kind);
  // Errors about the token in hand: the end of input inside a construct is
  // error 24 whatever else was expected.
  [[noreturn]] void parse_fail(int number) const {
    if (tok_.kind == T_EOF) compile_fail(cerr::kEof);
    compile_fail(number);
  }
  // A declaration that needed ';' before the token in hand: when that token
  // starts a later line, the error is reported at the end of the line of
  // the token before it, where the ';' is missing.
  [[noreturn]] void fail_missing_semicolon(int number);
  // Error 15 for `name` (a variable, function, member or structure tag),
  // which the error's gloss then names.
  [[noreturn]] void fail_undefined(const std::string& name) {
    undefined_name_ = name;
    compile_fail(cerr::kUndefined);
  }

  // ---- types (parser_expr.cpp) ----
  TypeId type_node(std::uint32_t kind, std::uint32_t a, std::uint32_t b);
  TypeId pointer_to(TypeId t) { return type_node(TK_PTR, static_cast<std::uint32_t>(t), 0); }
  TypeId array_of(TypeId t, std::uint32_t n);
  TypeId function_returning(TypeId t) {
    return type_node(TK_FUNC, static_cast<std::uint32_t>(t), 0);
  }
  TypeId new_struct(bool is_union);
  std::uint32_t tkind(TypeId t) const;
  std::uint32_t ta(TypeId t) const { return words_[t - kTypeNodeBase + 1]; }
  std::uint32_t tb(TypeId t) const { return words_[t - kTypeNodeBase + 2]; }
  void set_struct_size(TypeId t, std::uint32_t size) { words_[t - kTypeNodeBase + 1] = size; }
  bool is_basic(TypeId t) const { return t >= kTypeInt && t <= kTypeFloat; }
  bool is_integer(TypeId t) const { return t >= kTypeInt && t <= kTypeUChar; }
  bool is_unsigned(TypeId t) const { return t >= kTypeUInt && t <= kTypeUChar; }
  bool is_pointer(TypeId t) const { return tkind(t) == TK_PTR; }
  bool is_scalar(TypeId t) const { return is_basic(t) || is_pointer(t); }
  bool is_struct(TypeId t) const { return tkind(t) == TK_STRUCT || tkind(t) == TK_UNION; }
  TypeId target(TypeId t) const { return static_cast<TypeId>(ta(t)); }
  std::int64_t type_size(TypeId t) const;  // -1 when unknown
  std::uint32_t complete_size(TypeId t);   // error 8 when unknown
  TypeId widen(TypeId t) const;

  // ---- expression nodes (parser_expr.cpp) ----
  NodeId node(std::uint8_t kind, std::uint8_t aux, TypeId type, std::uint32_t a = 0,
              std::uint32_t b = 0, std::uint32_t c = 0);
  std::uint8_t nkind(NodeId n) const { return words_[n] & 0xFF; }
  std::uint8_t naux(NodeId n) const { return (words_[n] >> 8) & 0xFF; }
  TypeId ntype(NodeId n) const { return static_cast<TypeId>(words_[n] >> 16); }
  void set_ntype(NodeId n, TypeId t) {
    words_[n] = (words_[n] & 0xFFFF) | (static_cast<std::uint32_t>(t) << 16);
  }
  std::uint32_t na(NodeId n) const { return words_[n + 1]; }
  std::uint32_t nb(NodeId n) const { return words_[n + 2]; }
  std::uint32_t nc(NodeId n) const { return words_[n + 3]; }
  NodeId nodea(NodeId n) const { return static_cast<NodeId>(words_[n + 1]); }
  NodeId nodeb(NodeId n) const { return static_cast<NodeId>(words_[n + 2]); }
  NodeId nodec(NodeId n) const { return static_cast<NodeId>(words_[n + 3]); }
  bool is_location(NodeId n) const {
    std::uint8_t k = nkind(n);
    return k == E_GVAR || k == E_LVAR || k == E_DEREF;
  }
  bool is_const(NodeId n) const { return nkind(n) == E_CONST; }
  // The base a global or frame address (or location) was computed from:
  // its own address unless constant arithmetic folded it.
  std::uint32_t base_of(NodeId n) const { return nb(n) == kFromBase ? nc(n) : na(n); }
  TypeId vtype(NodeId n) const { return is_location(n) ? widen(ntype(n)) : ntype(n); }
  NodeId const_node(TypeId t, std::uint32_t v) { return node(E_CONST, 0, t, v); }

  // ---- parser_expr.cpp: expressions ----
  NodeId expression();             // with ","
  NodeId assignment_expression();  // without ","
  NodeId conditional_expression();
  NodeId binary_expression(int level);
  NodeId unary_expression();
  NodeId postfix_expression();
  NodeId primary_expression();
  NodeId identifier_node(const std::string& name, bool call_follows);
  NodeId rvalue(NodeId n);
  NodeId make_binary(int token, NodeId l, NodeId r);
  NodeId make_arith(int token, NodeId l, NodeId r);
  NodeId make_compare(int token, NodeId l, NodeId r);
  NodeId make_logical(int token, NodeId l, NodeId r);
  NodeId make_assign(int token, NodeId l, NodeId r);
  NodeId make_cast(TypeId t, NodeId e);
  NodeId make_deref(NodeId addr);
  NodeId make_member(NodeId base, TypeId st, const std::string& member);
  NodeId make_call(NodeId callee, const std::vector<NodeId>& args);
  NodeId make_incdec(NodeId loc, bool dec, bool post);
  NodeId to_float(NodeId n);
  NodeId to_int(NodeId n);
  NodeId scale(NodeId n, std::int64_t size);
  bool is_type_start(const Token& t);
  TypeId type_name();                     // specifiers and an abstract declarator
  std::uint32_t constant_int(int error);  // conditional expression that must fold
  std::uint32_t expr_mark() const { return hi_; }
  void reset_exprs(std::uint32_t mark) { hi_ = mark; }

  // ---- parser.cpp: declarations and statements ----
  struct Param {
    std::string name;
    TypeId type = kTypeInt;
    bool by_name = false;  // declared by name only (old style), type may follow
  };
  struct Declarator {
    std::string name;
    bool has_name = false;
    TypeId type = kTypeNone;
    bool has_params = false;       // the name's own function suffix had parameters
    bool function_suffix = false;  // the name is directly a function
    std::vector<Param> params;
    bool variadic = false;  // the parameter list ends in "..."
  };
  // The parameters a function was declared with, for checking its calls.
  struct Signature {
    std::vector<bool> float_params;  // one per parameter: declared float
    bool variadic = false;           // further arguments are allowed
    bool builtin = false;
  };
  struct Specifier {
    int storage = 0;  // 0, T_STATIC, T_EXTERN, T_TYPEDEF
    TypeId type = kTypeInt;
    bool explicit_type = false;
    bool struct_type = false;  // struct or union specifier
  };
  void compile_unit();
  void external_declaration();
  bool parse_specifier(Specifier& s, bool allow_storage);
  TypeId struct_specifier(bool is_union);
  void member_declarations(TypeId st, bool is_union);
  void declarator(Declarator& d, bool abstract_ok, bool in_params);
  void parameter_list(Declarator& d, bool outermost);
  std::string decorate(const std::string& name) const;
  void function_definition(int sym, Declarator& d, bool exported);
  void declare_global_variable(const Declarator& d, const Specifier& s, bool is_static_local);
  void global_initializer(TypeId t, Addr address);
  void global_init_scalar(TypeId t, Addr address);
  void global_init_list(TypeId t, Addr address);
  void local_declaration();
  void local_initializer(TypeId t, std::int32_t offset);
  void local_init_list(TypeId t, std::int32_t offset);
  void local_init_scalar(TypeId t, std::int32_t offset);
  void statement();
  void block();
  NodeId parenthesised_condition();
  void if_statement();
  void while_statement();
  void do_statement();
  void for_statement();
  void switch_statement();
  void case_labels();
  void default_label();
  void return_statement();
  void goto_statement();
  void label_statement(const std::string& name);
  void expression_statement();
  int function_symbol(const std::string& name, TypeId ret, int& slot_out);
  void record_signature(int sym, const Declarator& d, bool builtin);
  void check_call_arguments(NodeId callee, const std::vector<NodeId>& args);
  // A warning: shown on the terminal and by the tools, never in the message
  // buffer, and it changes nothing in the image or the result.
  void warn(const std::string& text, const std::string& gloss);
  // The same at a given place: `source` is the line in CP932, `column` a
  // byte index into it.
  void warn_at(const std::string& path, int line, const std::string& source, std::size_t column,
               const std::string& text, const std::string& gloss);
  int declare_function(const std::string& name, TypeId ret);
  TypeId array_to_pointer(TypeId t);
  int nesting_enter();
  void nesting_leave() { --nesting_; }

  // ---- codegen.cpp ----
  void emit_bytes(const std::uint8_t* bytes, std::size_t n);
  void emit_op(Opcode op);
  void emit_r(Opcode op, unsigned d, unsigned s);
  void emit_ri(Opcode op, unsigned d, unsigned s, std::uint32_t imm);
  void emit_i(Opcode op, std::uint32_t imm);
  void emit_label_ref(Opcode op, int label);  // op + label address
  void emit_ri_label(Opcode op, unsigned r, int label);
  void emit_trap(std::uint16_t n);
  void label_reference(std::uint32_t offset, int label);  // operand at offset
  int new_label();
  void define_label(int label);
  int here_label();
  void emit_jump(int label);
  void patch_chain(std::uint32_t head, std::uint32_t address);
  Addr place_data(std::uint32_t n);
  Addr place_string(const char* text, std::uint32_t length);
  void write_image(Addr address, const void* bytes, std::size_t n);
  Addr code_address(std::uint32_t offset) const { return program_ + offset; }

  void reset_slots();
  unsigned top_reg() const { return slots_.reg[slots_.top]; }
  unsigned spare_reg() const { return slots_.reg[slots_.spare]; }
  void reserve_top();
  void pop_to_spare();
  void move_top_to(unsigned r);
  void swap_top_spare() { std::swap(slots_.top, slots_.spare); }

  void gen(NodeId n);
  void gen_load(NodeId loc);
  void gen_store(NodeId loc, unsigned value_reg, unsigned addr_reg);
  void gen_address(NodeId loc);
  void gen_assign(NodeId n);
  void gen_compound(NodeId n);
  void gen_incdec(NodeId n);
  // Records the store just emitted through the address `address` when that
  // address is computed from the base of a declared array.
  void note_array_store(NodeId address);
  // The same for the store just emitted to a global or frame location
  // that constant indexing folded (kFromBase).
  void note_folded_store(NodeId loc);
  // Records the store just emitted when `base` (an address, or with `local`
  // a frame displacement) lies inside a declared array.
  void record_array_store(bool local, std::uint32_t base);
  void gen_call(NodeId n);
  void gen_value_condition(NodeId n);
  void gen_ternary(NodeId n);
  void pre_branch_move(NodeId n);
  bool contains_call(NodeId n) const;
  void emit_condition(NodeId n, bool when_true, int label);
  void condition_statement(NodeId n, bool when_true, int label);
  void emit_function_entry(int sym);
  void emit_function_exit(int ret_label, std::uint32_t frame_size);
  void emit_builtin_stub(int sym, int number);
  bool end_checks();
  void note_function(int sym, bool builtin);

  // ---- state ----
  CompileOptions options_;
  SymbolTable symbols_;

  // messages
  bool record_messages_ = false;
  std::string messages_;
  std::vector<CompileDiagnostic> diagnostics_;
  bool message_appended_at_end_ = false;

  // sources
  std::string script_dir_;
  std::vector<SourceFile> files_;
  std::string opened_names_;  // names, each NUL-terminated
  std::string main_path_;
  char line_[kLineBufferSize + 2];
  int line_len_ = 0;
  const char* rp_ = nullptr;  // read position (line, pool or argument area)
  MacroLevel macro_stack_[kMaxMacroDepth];
  int macro_depth_ = 0;
  bool directives_on_ = true;
  bool asm_block_ = false;
  int comment_depth_ = 0;
  int pending_trap_ = -1;
  std::unordered_set<int> sdk_macros_;  // slots of macros an SDK header (talven.h) defined
  int trap_counter_ = 0;
  bool at_end_ = false;
  int ch_ = kNoChar;

  // tokens
  Token tok_;
  std::deque<Token> lookahead_;
  // Where the last token consumed was: a missing token belongs after it.
  int prev_file_ = 0;
  int prev_line_ = 0;
  // A fatal error to report at another place than where reading stands:
  // the file, line and source line (CP932) with the column of the marker.
  struct FatalPlace {
    std::string path;
    int line = 0;
    std::string source;
    std::size_t column = 0;
  };
  std::optional<FatalPlace> fatal_place_;
  // Where reading stands now, as warn() reports it.
  FatalPlace reading_place() const;
  // A warning about subscripting `array` (a location) with a constant
  // `index` outside it, reported at `at`; `subject` is what the array is
  // called, `address_only` that a '&' applies to the postfix expression.
  void check_constant_index(NodeId array, NodeId index, const std::string& subject,
                            bool address_only, const FatalPlace& at);
  bool address_wanted_ = false;  // a '&' was just read before a unary expression
  int unevaluated_ = 0;          // inside sizeof's operand

  std::string undefined_name_;  // the name of an error 15, "" when not known
  std::string fatal_detail_;    // more about the fatal error, for its gloss
  bool encoding_warned_ = false;
  // The text of line `line` of the open file with index `file` (without its
  // line end); none when that file is no longer open.
  std::optional<std::string> source_line(int file, int line) const;

  // node area
  std::array<std::uint32_t, kNodeWords> words_{};
  std::uint32_t lo_ = 0;           // type nodes below
  std::uint32_t hi_ = kNodeWords;  // expression nodes from here up
  std::unordered_map<std::uint64_t, TypeId> type_cache_;
  int struct_counter_ = 0;
  std::vector<int> member_numbers_;  // structures whose member lists are open

  // parser
  bool in_function_ = false;
  int return_label_ = 0;
  std::uint32_t frame_size_ = 0;
  std::vector<Breakable> breakables_;
  int nesting_ = 0;
  std::vector<PendingExport> exports_;
  std::unordered_map<int, std::pair<std::string, int>> first_use_;  // symbol -> place
  std::unordered_map<int, Signature> signatures_;  // function symbol -> its parameters
  std::vector<CompileDiagnostic> warnings_;

  // line table: the place of the statement being compiled, and what the
  // code emitted so far came from
  std::vector<std::string> file_names_;  // every source opened (UTF-8)
  int place_file_ = 0;
  int place_line_ = 0;
  std::vector<CodeLine> code_lines_;
  std::vector<CodeFunction> code_functions_;

  // array bounds (script/array_bounds.h): the arrays declared so far (global
  // ones by address; the open function's by displacement) and the stores
  // computed from their bases
  struct DeclaredArray {
    std::uint32_t start = 0;  // address, or displacement (two's complement)
    std::uint32_t size = 0;
    std::string name;
  };
  std::map<Addr, DeclaredArray> global_arrays_;
  std::vector<DeclaredArray> local_arrays_;
  std::vector<ArrayStore> array_stores_;

  // output
  std::uint8_t* image_ = nullptr;  // null while measuring
  Addr program_ = 0;
  std::uint32_t capacity_ = 0;
  std::uint32_t code_size_ = 0;
  std::uint32_t data_size_ = 0;
  bool reachable_ = true;
  std::uint32_t enter_operand_ = 0;  // frame size operand of the open function
  std::vector<LabelEntry> labels_;
  int label_count_ = 0;  // labels given out
  Slots slots_{};
  SharedHeap heap_;
  std::uint32_t heap_used_ = 0;
};

}  // namespace talven::script
