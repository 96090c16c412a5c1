// Source input and the preprocessor: the include stack, line reading,
// directives (#define, #include, #trap, #asm/#endasm) and the character
// reader that walks macro bodies and their arguments.
//
// The preprocessor works on whole lines: a line is read into the line
// buffer, handled here when it is a directive, and otherwise handed to the
// lexer character by character. Macro expansion pushes reading into a macro
// body (in the name pool) or an argument text (in the argument area); when
// a body is used up, reading pops back to where it stood.
#include <cstring>

#include "base/config.h"
#include "base/messages.h"
#include "script/compiler_state.h"
#include "script/sdk_header.h"
#include "script/source_encoding.h"
#include "script/lexer_chars.h"
#include "storage/file_layer.h"

namespace talven::script {

namespace {

bool is_absolute_name(const std::string& name) {
  if (!name.empty() && (name[0] == '\\' || name[0] == '/')) return true;
  return name.size() >= 2 && name[1] == ':' &&
         ((name[0] >= 'A' && name[0] <= 'Z') || (name[0] >= 'a' && name[0] <= 'z'));
}

// Identifier at p (p must start one); stops at `end` or a NUL.
std::string identifier_at(const char*& p, const char* end) {
  std::string name;
  while (p < end && *p && is_ident_char(static_cast<unsigned char>(*p))) {
    unsigned char c = static_cast<unsigned char>(*p++);
    if (name.size() < static_cast<std::size_t>(kMaxIdentifier)) name += static_cast<char>(c);
    if (is_lead_byte(c) && p < end && *p) {
      if (name.size() < static_cast<std::size_t>(kMaxIdentifier)) name += *p;
      ++p;
    }
  }
  return name;
}

// Case-insensitive for ASCII letters; two-byte characters compare exactly.
bool same_name_nocase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]);
    unsigned char y = static_cast<unsigned char>(b[i]);
    if (is_lead_byte(x)) {
      if (x != y || i + 1 >= a.size() || a[i + 1] != b[i + 1]) return false;
      ++i;
      continue;
    }
    if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x + 32);
    if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y + 32);
    if (x != y) return false;
  }
  return true;
}

}  // namespace

// ---- source files -------------------------------------------------------------

void Compilation::open_source(const std::string& name) {
  // The opened-names list has a fixed budget: names, their terminators and
  // the empty name that ends the list.
  if (opened_names_.size() + name.size() + 2 > kOpenedNamesSize) compile_fail(cerr::kPoolFull);
  opened_names_.append(name);
  opened_names_.push_back('\0');

  std::string path = is_absolute_name(name) ? name : script_dir_ + name;
  if (files_.empty()) main_path_ = path;
  if (path.size() >= 260 || path.find('\0') != std::string::npos) compile_fail(cerr::kOpen);
  SourceFile file;
  file.path = path;
  file.index = static_cast<int>(file_names_.size());
  file_names_.push_back(display_text(path));
  auto load = [&](const std::string& p) {
    return options_.loader ? options_.loader(p, file.text) : load_source_file(p, file.text);
  };
  const bool may_fall_back =
      !files_.empty() && options_.builtin_sdk_header && is_sdk_header_name(name);
  // The SDK header is looked for quietly where that can be done: a game
  // without a copy of its own gets the built-in one with no "cannot open"
  // notice. Any other missing file is opened, and reported, as it stands.
  auto exists = [&](const std::string& p) {
    if (!options_.loader) return storage::DataFileExists(p);
    return !options_.probe || options_.probe(p);
  };
  auto try_load = [&](const std::string& p) {
    return may_fall_back && !exists(p) ? static_cast<int>(cerr::kOpen) : load(p);
  };
  int err = try_load(path);
  // Not beside the script: the include folders, then the SDK header that
  // the binary carries.
  if (err == cerr::kOpen && !files_.empty() && !is_absolute_name(name)) {
    for (const std::string& dir : options_.include_dirs) {
      if ((err = try_load(dir + name)) != cerr::kOpen) break;
    }
  }
  if (err == cerr::kOpen && may_fall_back) {
    file.text.assign(builtin_sdk_header());
    err = 0;
  }
  if (err != 0) compile_fail(err);
  decode_text(file);
  file.text.push_back('\n');
  files_.push_back(std::move(file));
}

// A UTF-8 source becomes CP932 here; each file is decided on its own.
void Compilation::decode_text(SourceFile& file) {
  std::optional<SourceEncoding> mode = parse_source_encoding(config().SourceEncoding);
  if (!mode && !encoding_warned_) {
    encoding_warned_ = true;
    warn("警告: SourceEncoding の値が正しくありません。",
         "warning: unknown SourceEncoding value '" + display_text(config().SourceEncoding) +
             "' (auto, utf8 or cp932); auto is used");
  }
  SourceDecoding d = decode_source(file.text, mode.value_or(SourceEncoding::kAuto));
  if (d.outcome == SourceDecoding::kAsIs || d.outcome == SourceDecoding::kConverted) return;
  const std::string& path = file_names_[static_cast<std::size_t>(file.index)];
  if (d.outcome == SourceDecoding::kNeither) {
    warn_at(path, d.line, d.source_line, d.column,
            "警告: UTF-8 でも CP932 でもない文字があります。", "warning: " + d.reason);
    return;
  }
  fatal_place_ = FatalPlace{path, d.line, d.source_line, d.column};
  fatal_detail_ = d.reason;
  compile_fail(cerr::kRead);
}

int Compilation::raw_byte() {
  for (;;) {
    if (files_.empty()) return kEofChar;
    SourceFile& f = files_.back();
    if (f.pos < f.text.size()) return static_cast<unsigned char>(f.text[f.pos++]);
    if (files_.size() == 1) return kEofChar;
    files_.pop_back();  // an include ends: continue in the including file
  }
}

// Reads the next line that goes to the lexer. Directive lines are handled
// here; a #trap line comes back with its rest. False at the end of input.
bool Compilation::read_line() {
  for (;;) {
    if (files_.empty() || at_end_) return false;
    files_.back().line += 1;
    int len = 0;
    bool any = false;
    line_[0] = 0;
    line_len_ = 0;
    rp_ = line_;
    for (;;) {
      // Plain bytes straight from the file text; everything else (CR,
      // two-byte characters, the end of a file) takes the careful way.
      {
        SourceFile& f = files_.back();
        const char* text = f.text.data();
        std::size_t pos = f.pos, end = f.text.size();
        while (pos < end && len < kMaxLineLength) {
          unsigned char b = static_cast<unsigned char>(text[pos]);
          if (b == '\n' || b == '\r' || is_lead_byte(b)) break;
          line_[len++] = static_cast<char>(b);
          ++pos;
        }
        if (pos != f.pos) any = true;
        f.pos = pos;
      }
      int c = raw_byte();
      if (c == kEofChar) break;
      any = true;
      if (c == '\r') continue;
      if (c == '\n') {
        line_[len++] = '\n';
        break;
      }
      if (len >= kMaxLineLength) {
        line_[len] = 0;
        line_len_ = len;
        rp_ = line_ + len;
        compile_fail(cerr::kLineLength);
      }
      line_[len++] = static_cast<char>(c);
      if (is_lead_byte(static_cast<unsigned char>(c))) {
        int t = raw_byte();
        if (t == kEofChar) {
          line_[len] = 0;
          line_len_ = len;
          rp_ = line_ + len;
          compile_fail(cerr::kEof);
        }
        if (len >= kMaxLineLength) {
          line_[len] = 0;
          line_len_ = len;
          rp_ = line_ + len;
          compile_fail(cerr::kLineLength);
        }
        line_[len++] = static_cast<char>(t);
      }
    }
    line_[len] = 0;
    line_len_ = len;
    rp_ = line_;
    if (!any) {
      at_end_ = true;
      return false;
    }
    if (comment_depth_ == 0 && directives_on_ && line_[0] == '#') {
      if (directive()) return true;
      continue;
    }
    if (asm_block_ && directives_on_) continue;
    return true;
  }
}

// A directive line. True when the rest of the line is source (#trap).
bool Compilation::directive() {
  const char* p = line_ + 1;
  auto starts = [&](const char* word) { return std::strncmp(p, word, std::strlen(word)) == 0; };
  rp_ = p;
  if (starts("define")) {
    directives_on_ = false;
    do_define(p + 6);
    directives_on_ = true;
    rp_ = line_ + line_len_;
    return false;
  }
  if (starts("include")) {
    do_include(p + 7);
    return false;
  }
  if (starts("trap")) {
    pending_trap_ = trap_counter_++;
    rp_ = p + 4;
    return !asm_block_;
  }
  if (starts("asm")) {
    if (asm_block_) compile_fail(cerr::kDirective);
    asm_block_ = true;
    return false;
  }
  if (starts("endasm")) {
    if (!asm_block_) compile_fail(cerr::kDirective);
    asm_block_ = false;
    return false;
  }
  if (*p == ' ') return false;
  compile_fail(cerr::kDirective);
}

void Compilation::do_define(const char* p) {
  const char* end = line_ + line_len_;
  while (p < end && (*p == ' ' || *p == '\t')) ++p;
  rp_ = p;
  if (p >= end || !is_ident_start(static_cast<unsigned char>(*p))) compile_fail(cerr::kDirective);
  std::string name = identifier_at(p, end);
  rp_ = p;
  // A name is defined once, except that the SDK header's macros give way to
  // the game's own: the game's definition replaces the header's, and the
  // header skips a name the game defined before including it.
  const bool in_sdk_header = !files_.empty() && is_sdk_header_name(files_.back().path);
  const int existing = symbols_.lookup(name);
  if (existing >= 0) {
    const bool header_macro = sdk_macros_.count(existing) != 0;
    if (symbols_.at(existing).kind != kSymMacro || !(in_sdk_header || header_macro))
      compile_fail(cerr::kDirective);
    if (!in_sdk_header) sdk_macros_.erase(existing);
  }
  // The header's definition of a name already defined is read to its end
  // (it may continue on further lines) and dropped.
  auto define = [&](std::int32_t params, std::uint32_t body) {
    if (existing >= 0 && in_sdk_header) return;
    if (existing >= 0) {
      symbols_.at(existing).extra = params;
      symbols_.at(existing).value = body;
      return;
    }
    int slot = symbols_.add(name, false, kSymMacro, params, body);
    if (in_sdk_header) sdk_macros_.insert(slot);
  };

  if (p < end && *p == '(') {
    ++p;
    std::vector<std::string> params;
    auto skip_blanks = [&] {
      while (p < end && (*p == ' ' || *p == '\t')) ++p;
    };
    skip_blanks();
    if (p < end && *p == ')') {
      ++p;
    } else {
      for (;;) {
        skip_blanks();
        rp_ = p;
        if (p >= end || !is_ident_start(static_cast<unsigned char>(*p)))
          compile_fail(cerr::kSyntax);
        params.push_back(identifier_at(p, end));
        skip_blanks();
        rp_ = p;
        if (p < end && *p == ',') {
          ++p;
          continue;
        }
        if (p < end && *p == ')') {
          ++p;
          break;
        }
        compile_fail(cerr::kSyntax);
      }
    }
    // Each parameter is a macro of its own, NAME_i; an invocation sets its
    // body to the argument text.
    std::vector<std::string> entry_names;
    for (std::size_t i = 0; i < params.size(); ++i) {
      std::string entry = name + "_" + std::to_string(i);
      int slot = symbols_.find(entry, false);
      if (slot >= 0) {
        if (symbols_.at(slot).kind != kSymMacro) compile_fail(cerr::kDirective);
        symbols_.at(slot).extra = 0;
      } else {
        symbols_.add(entry, false, kSymMacro, 0, symbols_.pool_add("", 0));
      }
      entry_names.push_back(std::move(entry));
    }
    std::string body;
    for (;;) {
      rp_ = p;
      if (p >= end || *p == '\n') break;
      unsigned char c = static_cast<unsigned char>(*p);
      if (c == '\\' && (p + 1 >= end || p[1] == '\n')) {
        // The body goes on with the next line.
        if (!read_line()) compile_fail(cerr::kEof);
        p = line_;
        end = line_ + line_len_;
        continue;
      }
      if (is_ident_start(c)) {
        std::string word = identifier_at(p, end);
        bool replaced = false;
        for (std::size_t i = 0; i < params.size(); ++i) {
          if (same_name_nocase(word, params[i])) {
            body += entry_names[i];
            replaced = true;
            break;
          }
        }
        if (!replaced) body += word;
        continue;
      }
      body += static_cast<char>(c);
      ++p;
      if (is_lead_byte(c) && p < end) body += *p++;
      if (body.size() >= kPoolSize) compile_fail(cerr::kPoolFull);
    }
    body += '\n';
    std::uint32_t offset = symbols_.pool_add(body.data(), body.size());
    define(static_cast<std::int32_t>(params.size()), offset);
    return;
  }
  // Object-like: the rest of the line as it stands.
  std::string body(p, end);
  if (body.empty() || body.back() != '\n') body += '\n';
  define(0, symbols_.pool_add(body.data(), body.size()));
}

void Compilation::do_include(const char* p) {
  const char* end = line_ + line_len_;
  while (p < end && (*p == ' ' || *p == '\t')) ++p;
  rp_ = p;
  if (p >= end || *p != '"') compile_fail(cerr::kIncludeName);
  ++p;
  const char* start = p;
  while (p < end && *p != '"') {
    if (*p == '\n') {
      rp_ = p;
      compile_fail(cerr::kIncludeName);
    }
    if (is_lead_byte(static_cast<unsigned char>(*p)) && p + 1 < end) p += 2;
    else ++p;
  }
  rp_ = p;
  if (p >= end) compile_fail(cerr::kIncludeName);
  std::string name(start, p);
  rp_ = p + 1;
  if (files_.size() >= static_cast<std::size_t>(kMaxIncludeDepth))
    compile_fail(cerr::kIncludeDepth);
  // Every file is read at most once per compilation.
  for (std::size_t i = 0; i < opened_names_.size();) {
    std::size_t j = opened_names_.find('\0', i);
    if (same_name_nocase(std::string_view(opened_names_).substr(i, j - i), name)) return;
    i = j + 1;
  }
  open_source(name);
  // The line that continues the including file after the include ends is
  // counted on the include; keep the including file's numbers right.
  files_[files_.size() - 2].line += 1;
}

// ---- character reader ---------------------------------------------------------------

int Compilation::next_char() {
  for (;;) {
    if (macro_depth_ > 0) {
      unsigned char c = static_cast<unsigned char>(*rp_);
      if (c == 0) {
        MacroLevel& level = macro_stack_[--macro_depth_];
        rp_ = level.resume;
        symbols_.set_arg_pos(level.arg_pos);
        for (const auto& [slot, body] : level.saved_params) symbols_.at(slot).value = body;
        level.saved_params.clear();
        if (level.saved_char != kNoChar) return level.saved_char;
        continue;
      }
      if (c == '#' && rp_[1] == '#' && try_paste()) continue;
      ++rp_;
      return c;
    }
    if (rp_ && rp_ < line_ + line_len_) return static_cast<unsigned char>(*rp_++);
    if (!read_line()) return kEofChar;
  }
}

// "##NAME" inside a macro body, NAME a macro without parameters: reading
// goes on inside NAME's body, and a "##" right after NAME is dropped.
bool Compilation::try_paste() {
  const char* q = rp_ + 2;
  if (!is_ident_start(static_cast<unsigned char>(*q))) return false;
  const char* end = q + std::strlen(q);
  std::string name = identifier_at(q, end);
  int slot = symbols_.lookup(name);
  if (slot < 0 || symbols_.at(slot).kind != kSymMacro) return false;
  if (symbols_.at(slot).extra > 0) compile_fail(cerr::kDirective);
  if (macro_depth_ >= kMaxMacroDepth) compile_fail(cerr::kMacroDepth);
  if (q[0] == '#' && q[1] == '#') q += 2;
  macro_stack_[macro_depth_++] = MacroLevel{q, symbols_.arg_pos(), kNoChar, {}};
  rp_ = symbols_.text(symbols_.at(slot).value);
  return true;
}

// Arguments of a macro invocation: in parentheses, separated by commas, or
// without parentheses up to the next ';' (left in the input). Parentheses
// nest; quoted text is copied whole so that commas inside it do not split.
std::string Compilation::collect_argument_text(bool parenthesised, std::vector<std::string>& args) {
  std::string cur;
  int depth = 0;
  for (;;) {
    if (ch_ == kEofChar) compile_fail(cerr::kEof);
    if (parenthesised) {
      if (ch_ == ')' && depth == 0) {
        nextc();
        break;
      }
    } else if (ch_ == ';' && depth == 0) {
      break;
    }
    if (ch_ == ',' && depth == 0) {
      args.push_back(std::move(cur));
      cur.clear();
      nextc();
      continue;
    }
    if (cur.size() >= kArgAreaSize) compile_fail(cerr::kPoolFull);
    if (ch_ == '(') ++depth;
    if (ch_ == ')' && depth > 0) --depth;
    if (ch_ == '"' || ch_ == '\'') {
      int quote = ch_;
      cur += static_cast<char>(ch_);
      nextc();
      while (ch_ != quote && ch_ != '\n' && ch_ != kEofChar) {
        if (cur.size() >= kArgAreaSize) compile_fail(cerr::kPoolFull);
        bool escape = ch_ == '\\';
        bool lead = is_lead_byte(static_cast<unsigned>(ch_));
        cur += static_cast<char>(ch_);
        nextc();
        if ((escape || lead) && ch_ != kEofChar) {
          cur += static_cast<char>(ch_);
          nextc();
        }
      }
      if (ch_ == quote) {
        cur += static_cast<char>(ch_);
        nextc();
      }
      continue;
    }
    bool lead = is_lead_byte(static_cast<unsigned>(ch_));
    cur += static_cast<char>(ch_);
    nextc();
    if (lead && ch_ != kEofChar) {
      cur += static_cast<char>(ch_);
      nextc();
    }
  }
  args.push_back(cur);
  return cur;
}

void Compilation::expand_macro(int slot) {
  if (macro_depth_ >= kMaxMacroDepth) compile_fail(cerr::kMacroDepth);
  std::string macro_name = symbols_.name(slot);
  int params = symbols_.at(slot).extra;
  std::uint32_t body = symbols_.at(slot).value;
  if (params > 0) {
    while (ch_ != kEofChar && ch_ >= 0 && is_space_char(static_cast<unsigned>(ch_))) nextc();
    bool parenthesised = ch_ == '(';
    if (parenthesised) nextc();
    std::vector<std::string> args;
    collect_argument_text(parenthesised, args);
    // Reading may have left macro levels while collecting; the depth
    // check must hold for the level pushed below.
    if (macro_depth_ >= kMaxMacroDepth) compile_fail(cerr::kMacroDepth);
    std::uint32_t restore = symbols_.arg_pos();
    std::vector<std::pair<int, std::uint32_t>> saved;
    for (int i = 0; i < params; ++i) {
      const std::string& text = static_cast<std::size_t>(i) < args.size() ? args[i] : std::string();
      std::uint32_t offset = symbols_.arg_add(text.data(), text.size());
      int entry = symbols_.find(macro_name + "_" + std::to_string(i), false);
      if (entry >= 0 && symbols_.at(entry).kind == kSymMacro) {
        saved.emplace_back(entry, symbols_.at(entry).value);
        symbols_.at(entry).value = offset;
      }
    }
    macro_stack_[macro_depth_++] = MacroLevel{rp_, restore, ch_, std::move(saved)};
  } else {
    macro_stack_[macro_depth_++] = MacroLevel{rp_, symbols_.arg_pos(), ch_, {}};
  }
  rp_ = symbols_.text(body);
  nextc();
}

int Compilation::line_position() const {
  const char* p = macro_depth_ > 0 ? macro_stack_[0].resume : rp_;
  if (!p || p < line_ || p > line_ + line_len_) return line_len_;
  return static_cast<int>(p - line_);
}

}  // namespace talven::script
