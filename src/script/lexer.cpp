// The lexer: characters from the preprocessor's reader to tokens.
//
// Identifiers may hold two-byte characters; a name that is a keyword gives
// the keyword's token and a name that is a macro is expanded on the spot.
// Numbers are decimal, 0x hexadecimal, 0b binary or decimal floats; all
// arithmetic wraps at 32 bits. Block comments nest.
#include <cstdlib>
#include <string>
#include <utility>

#include "script/compiler_state.h"
#include "script/lexer_chars.h"

namespace talven::script {

namespace {

unsigned hex_value(int c) {
  if (c >= '0' && c <= '9') return static_cast<unsigned>(c - '0');
  if (c >= 'a' && c <= 'f') return static_cast<unsigned>(c - 'a' + 10);
  return static_cast<unsigned>(c - 'A' + 10);
}

std::uint32_t float_bits(float f) {
  std::uint32_t v;
  static_assert(sizeof v == sizeof f);
  __builtin_memcpy(&v, &f, sizeof v);
  return v;
}

}  // namespace

void Compilation::read_identifier_chars(std::string& name) {
  name.clear();
  while (ch_ >= 0 && is_ident_char(static_cast<unsigned>(ch_))) {
    bool lead = is_lead_byte(static_cast<unsigned>(ch_));
    if (name.size() < static_cast<std::size_t>(kMaxIdentifier)) name += static_cast<char>(ch_);
    // The next character straight from the line when no macro is being
    // read (what next_char() would give), else through next_char().
    if (macro_depth_ == 0 && rp_ && rp_ < line_ + line_len_)
      ch_ = static_cast<unsigned char>(*rp_++);
    else nextc();
    if (lead) {
      // The second byte goes with the first, whatever it is.
      if (ch_ == kEofChar) break;
      if (name.size() < static_cast<std::size_t>(kMaxIdentifier)) name += static_cast<char>(ch_);
      nextc();
    }
  }
}

// After a backslash: the value of the escape sequence, or kNoChar for a
// backslash at the end of a line (the literal continues on the next line).
int Compilation::read_escape() {
  int c = ch_;
  switch (c) {
    case kEofChar: compile_fail(cerr::kEof);
    case 'n': nextc(); return 10;
    case 'r': nextc(); return 13;
    case 't': nextc(); return 9;
    case 'b': nextc(); return 8;
    case 'f': nextc(); return 12;
    case 'x': {
      nextc();
      unsigned v = 0;
      for (int i = 0; i < 2 && ch_ >= 0 && is_hex_char(static_cast<unsigned>(ch_)); ++i) {
        v = v * 16 + hex_value(ch_);
        nextc();
      }
      return static_cast<int>(v);
    }
    case '0': {
      nextc();
      unsigned v = 0;
      for (int i = 0; i < 3 && ch_ >= '0' && ch_ <= '7'; ++i) {
        v = v * 8 + static_cast<unsigned>(ch_ - '0');
        nextc();
      }
      return static_cast<int>(v & 255);
    }
    case '\n': nextc(); return kNoChar;
    default: break;
  }
  if (c >= '1' && c <= '9') {
    unsigned v = 0;
    for (int i = 0; i < 3 && ch_ >= '0' && ch_ <= '9'; ++i) {
      v = v * 10 + static_cast<unsigned>(ch_ - '0');
      nextc();
    }
    return static_cast<int>(v & 255);
  }
  nextc();
  return c;
}

void Compilation::read_number(Token& t) {
  t.kind = T_CONST;
  std::uint32_t v = 0;
  if (ch_ == '0') {
    nextc();
    if (ch_ == 'x' || ch_ == 'X') {
      nextc();
      while (ch_ >= 0 && is_hex_char(static_cast<unsigned>(ch_))) {
        v = v * 16 + hex_value(ch_);
        nextc();
      }
      goto suffix;
    }
    if (ch_ == 'b' || ch_ == 'B') {
      nextc();
      while (ch_ == '0' || ch_ == '1') {
        v = v * 2 + static_cast<std::uint32_t>(ch_ - '0');
        nextc();
      }
      goto suffix;
    }
  }
  while (ch_ >= '0' && ch_ <= '9') {
    v = v * 10 + static_cast<std::uint32_t>(ch_ - '0');
    nextc();
  }
  if (ch_ == '.') {
    // The integer part (as a 32-bit value), the point and the digits are
    // read as one float.
    std::string text = std::to_string(v) + ".";
    nextc();
    while (ch_ >= '0' && ch_ <= '9') {
      if (text.size() < 400) text += static_cast<char>(ch_);
      nextc();
    }
    t.value = float_bits(std::strtof(text.c_str(), nullptr));
    t.is_float = true;
    if (ch_ == 'f' || ch_ == 'F') nextc();
    return;
  }
suffix:
  if (ch_ == 'f' || ch_ == 'F') {
    nextc();
    t.value = float_bits(static_cast<float>(static_cast<std::int32_t>(v)));
    t.is_float = true;
    return;
  }
  t.value = v;
}

void Compilation::lex_into(Token& t) {
  for (;;) {
    if (ch_ == kNoChar) nextc();
    while (ch_ >= 0 && is_space_char(static_cast<unsigned>(ch_))) nextc();
    t.kind = T_EOF;
    t.value = 0;
    t.is_float = false;
    t.text.clear();
    int c = ch_;
    if (c == kEofChar) return;  // T_EOF
    if (is_ident_start(static_cast<unsigned>(c))) {
      // Read into the token itself, whose text keeps its capacity.
      std::string& name = t.text;
      read_identifier_chars(name);
      int slot = symbols_.lookup(name);
      if (slot >= 0) {
        const Symbol& s = symbols_.at(slot);
        if (s.kind == kSymKeyword) {
          t.kind = static_cast<int>(s.value);
          t.text.clear();
          return;
        }
        if (s.kind == kSymMacro) {
          expand_macro(slot);
          continue;
        }
      }
      t.kind = T_IDENT;
      return;
    }
    if (c >= '0' && c <= '9') {
      read_number(t);
      return;
    }
    auto one = [&](int kind) {
      nextc();
      t.kind = kind;
    };
    // Operator c, or c followed by '=' (and by c itself when doubled).
    auto pick = [&](int plain, int with_eq, int doubled) {
      nextc();
      if (ch_ == '=' && with_eq) {
        nextc();
        t.kind = with_eq;
      } else if (doubled && ch_ == c) {
        nextc();
        t.kind = doubled;
      } else {
        t.kind = plain;
      }
    };
    switch (c) {
      case '\'': {
        nextc();
        int v;
        for (;;) {
          if (ch_ == kEofChar) compile_fail(cerr::kEof);
          if (ch_ == '\n') compile_fail(cerr::kStringLine);
          if (ch_ == '\\') {
            nextc();
            v = read_escape();
            if (v == kNoChar) continue;
            break;
          }
          if (is_lead_byte(static_cast<unsigned>(ch_))) {
            int first = ch_;
            nextc();
            if (ch_ == kEofChar) compile_fail(cerr::kEof);
            v = first * 256 + ch_;
            nextc();
            break;
          }
          v = ch_;
          nextc();
          break;
        }
        if (ch_ != '\'') compile_fail(cerr::kQuote);
        nextc();
        t.kind = T_CONST;
        t.value = static_cast<std::uint32_t>(v);
        return;
      }
      case '"': {
        nextc();
        std::string s;
        for (;;) {
          if (ch_ == kEofChar) compile_fail(cerr::kEof);
          if (ch_ == '"') {
            nextc();
            break;
          }
          if (ch_ == '\n') compile_fail(cerr::kStringLine);
          if (s.size() >= kPoolSize) compile_fail(cerr::kPoolFull);
          if (ch_ == '\\') {
            nextc();
            int v = read_escape();
            if (v != kNoChar) s += static_cast<char>(v);
            continue;
          }
          bool lead = is_lead_byte(static_cast<unsigned>(ch_));
          s += static_cast<char>(ch_);
          nextc();
          if (lead) {
            if (ch_ == kEofChar) compile_fail(cerr::kEof);
            s += static_cast<char>(ch_);
            nextc();
          }
        }
        t.kind = T_STRING;
        t.text = std::move(s);
        return;
      }
      case '/':
        nextc();
        if (ch_ == '/') {
          while (ch_ != '\n' && ch_ != kEofChar) {
            bool lead = is_lead_byte(static_cast<unsigned>(ch_));
            nextc();
            if (lead && ch_ != kEofChar) nextc();
          }
          continue;
        }
        if (ch_ == '*') {
          nextc();
          comment_depth_ = 1;
          while (comment_depth_ > 0) {
            if (ch_ == kEofChar) compile_fail(cerr::kEof);
            if (is_lead_byte(static_cast<unsigned>(ch_))) {
              nextc();
              if (ch_ != kEofChar) nextc();
              continue;
            }
            if (ch_ == '/') {
              nextc();
              if (ch_ == '*') {
                ++comment_depth_;
                nextc();
              }
              continue;
            }
            if (ch_ == '*') {
              nextc();
              if (ch_ == '/') {
                // Closed: the next line may be a directive again.
                --comment_depth_;
                nextc();
              }
              continue;
            }
            nextc();
          }
          continue;
        }
        if (ch_ == '=') {
          nextc();
          t.kind = T_DIV_ASSIGN;
        } else {
          t.kind = T_SLASH;
        }
        return;
      case '!': return pick(T_NOT, T_NE, 0);
      case '%': return pick(T_MOD, T_MOD_ASSIGN, 0);
      case '&': return pick(T_AMP, T_AND_ASSIGN, T_ANDAND);
      case '(': return one(T_LPAREN);
      case ')': return one(T_RPAREN);
      case '*': return pick(T_STAR, T_MUL_ASSIGN, 0);
      case '+': return pick(T_PLUS, T_ADD_ASSIGN, T_INC);
      case ',': return one(T_COMMA);
      case '-':
        nextc();
        if (ch_ == '-') {
          nextc();
          t.kind = T_DEC;
        } else if (ch_ == '=') {
          nextc();
          t.kind = T_SUB_ASSIGN;
        } else if (ch_ == '>') {
          nextc();
          t.kind = T_ARROW;
        } else {
          t.kind = T_MINUS;
        }
        return;
      case '.': return one(T_DOT);
      case ':': return one(T_COLON);
      case ';': return one(T_SEMI);
      case '<':
      case '>': {
        bool less = c == '<';
        nextc();
        if (ch_ == c) {
          nextc();
          if (ch_ == '=') {
            nextc();
            t.kind = less ? T_SHL_ASSIGN : T_SHR_ASSIGN;
          } else {
            t.kind = less ? T_SHL : T_SHR;
          }
        } else if (ch_ == '=') {
          nextc();
          t.kind = less ? T_LE : T_GE;
        } else {
          t.kind = less ? T_LT : T_GT;
        }
        return;
      }
      case '=': return pick(T_ASSIGN, T_EQ, 0);
      case '?': return one(T_QUESTION);
      case '[': return one(T_LBRACKET);
      case ']': return one(T_RBRACKET);
      case '^': return pick(T_XOR, T_XOR_ASSIGN, 0);
      case '{': return one(T_LBRACE);
      case '|': return pick(T_OR, T_OR_ASSIGN, T_OROR);
      case '}': return one(T_RBRACE);
      case '~': return one(T_TILDE);
      default: compile_fail(cerr::kSyntax);
    }
  }
}

// ---- token stream -------------------------------------------------------------

void Compilation::advance() {
  prev_file_ = tok_.file;
  prev_line_ = tok_.line;
  if (!lookahead_.empty()) {
    tok_ = std::move(lookahead_.front());
    lookahead_.pop_front();
  } else {
    // Straight into the current token: no token is moved per read.
    lex_into(tok_);
    tok_.file = files_.empty() ? 0 : files_.back().index;
    tok_.line = current_line();
  }
}

const Token& Compilation::peek(std::size_t n) {
  while (lookahead_.size() < n) {
    lookahead_.emplace_back();
    lex_into(lookahead_.back());
    lookahead_.back().file = files_.empty() ? 0 : files_.back().index;
    lookahead_.back().line = current_line();
  }
  return lookahead_[n - 1];
}

void Compilation::expect(int kind) {
  if (tok_.kind == kind) {
    advance();
    return;
  }
  const char* what = "識別子";
  switch (kind) {
    case T_LPAREN: what = "'('"; break;
    case T_RPAREN: what = "')'"; break;
    case T_RBRACKET: what = "']'"; break;
    case T_COLON: what = "':'"; break;
    case T_SEMI: what = "';'"; break;
    case T_WHILE: what = "'while'"; break;
    default: break;
  }
  missing_token(what);
}

}  // namespace talven::script
