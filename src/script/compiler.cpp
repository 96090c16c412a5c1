// compile_script(): one compilation from start to end, its messages, the
// end-of-compilation checks, the process-wide export list and the shared
// heap of extern variables.
#include "script/compiler.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <mutex>
#include <new>

#include "base/config.h"
#include "base/messages.h"
#include "script/compiler_state.h"
#include "storage/file_layer.h"

namespace talven::script {

namespace {

const char* const kErrorMessages[kCompileErrorCount] = {
    "内部エラー",
    "メモリの確保に失敗しました",
    "ファイルのオープンに失敗しました",
    "ファイルの読み込みに失敗しました",
    "ディレクティプ命令でエラーが発生しました",
    "インクルードファイルの指定が間違ってます",
    "インクルードファイルのネスト回数が多すぎます",
    "マクロの参照回数が１６回を超えました",
    "変数（関数）の宣言に誤りがあります",
    "式の記述に誤りがあります",
    "０で除算しました",
    "定数がありません",
    "文法エラー",
    "変数がありません",
    "型の指定が間違っています",
    "定義されていない文字列です",
    "文字列は一行内に記述してください",
    "クォーテーションがありません",
    "グローバルシンボルの数が多すぎます",
    "ローカルシンボルの数が多すぎます",
    "シンボルバッファの長さをオーバーしました",
    "一行の長さが長すぎます",
    "ヒープ領域が溢れました",
    "プログラム領域が足りません",
    "コンパイル途中で EOF が現れました",
};

const char* const kErrorGlosses[kCompileErrorCount] = {
    "internal error",
    "out of memory",
    "cannot open the file",
    "cannot read the file",
    "bad directive",
    "the include name must be in double quotes",
    "includes nested too deeply",
    "more than 16 nested macro expansions",
    "bad declaration",
    "bad expression",
    "division by zero in a constant",
    "constant expression required",
    "syntax error",
    "an assignable variable is required",
    "type mismatch",
    "undefined name",
    "a string must end on its line",
    "missing closing quote",
    "too many global names",
    "too many local names",
    "name space full",
    "line too long",
    "expression too complex",
    "program area too small",
    "unexpected end of file",
};

// Sources larger than this are refused rather than read into memory.
constexpr std::int64_t kMaxSourceSize = 64 << 20;
// Diagnostics kept for tools; the message buffer itself has its own limit.
constexpr std::size_t kMaxDiagnostics = 1000;

// A source line with tabs expanded to columns of 4: with "??" where reading
// stood, and without it, whose byte count at the marker is the screen column
// of a caret (a two-byte character is two columns wide).
struct MarkedLine {
  std::string expanded;
  std::string plain;
  std::size_t caret = 0;
};

MarkedLine mark_line(const std::string& src, std::size_t at) {
  MarkedLine m;
  std::size_t column = 0;
  for (std::size_t i = 0; i <= src.size(); ++i) {
    if (i == at) {
      m.expanded += "??";
      m.caret = m.plain.size();
    }
    if (i == src.size()) break;
    char c = src[i];
    if (c == '\t') {
      do {
        m.expanded += ' ';
        m.plain += ' ';
        ++column;
      } while (column % 4 != 0);
    } else {
      m.expanded += c;
      m.plain += c;
      ++column;
    }
  }
  return m;
}

struct Keyword {
  const char* name;
  int token;
};
constexpr Keyword kKeywords[] = {
    {"int", T_INT},
    {"void", T_INT},
    {"char", T_CHAR},
    {"struct", T_STRUCT},
    {"union", T_UNION},
    {"signed", T_SIGNED},
    {"unsigned", T_UNSIGNED},
    {"static", T_STATIC},
    {"goto", T_GOTO},
    {"return", T_RETURN},
    {"break", T_BREAK},
    {"continue", T_CONTINUE},
    {"if", T_IF},
    {"else", T_ELSE},
    {"for", T_FOR},
    {"do", T_DO},
    {"while", T_WHILE},
    {"switch", T_SWITCH},
    {"case", T_CASE},
    {"default", T_DEFAULT},
    {"typedef", T_TYPEDEF},
    {"sizeof", T_SIZEOF},
    {"long", T_LONG},
    {"short", T_SHORT},
    {"float", T_FLOAT},
    {"extern", T_EXTERN},
};

std::mutex g_export_mutex;
std::vector<ExportedFunction> g_exports;

std::mutex g_heap_mutex;
SharedHeap g_heap;
bool g_heap_ready = false;

// The function is still where it was exported: its area is a live block
// and the code there still starts a function.
bool export_alive(const ExportedFunction& e) {
  if (script_space().block_size(e.program) < e.capacity) return false;
  std::uint8_t op = 0;
  return load8(e.address, op) && op == OP_ENTER;
}

}  // namespace

const char* compile_error_message(int number) {
  if (number < 0 || number >= kCompileErrorCount) return "";
  return kErrorMessages[number];
}

const char* compile_error_gloss(int number) {
  if (number < 0 || number >= kCompileErrorCount) return "";
  return kErrorGlosses[number];
}

// ---- shared heap ------------------------------------------------------------------

SharedHeap shared_script_heap() {
  std::lock_guard<std::mutex> lock(g_heap_mutex);
  if (!g_heap_ready) {
    std::int32_t size = config().HeapSize;
    std::uint32_t n = size > 0 ? static_cast<std::uint32_t>(size) : 0;
    Addr base = n ? script_zalloc(n) : 0;
    g_heap = SharedHeap{base, base ? n : 0};
    g_heap_ready = true;
  }
  return g_heap;
}

void set_shared_script_heap(SharedHeap heap) {
  std::lock_guard<std::mutex> lock(g_heap_mutex);
  g_heap = heap;
  g_heap_ready = true;
}

// ---- export list --------------------------------------------------------------------

std::optional<ExportedFunction> find_export(std::string_view name) {
  std::lock_guard<std::mutex> lock(g_export_mutex);
  for (const ExportedFunction& e : g_exports)
    if (e.name == name) return e;
  return std::nullopt;
}

void forget_exports_in(Addr program, std::uint32_t size) {
  std::lock_guard<std::mutex> lock(g_export_mutex);
  std::erase_if(g_exports, [&](const ExportedFunction& e) {
    return e.address >= program &&
           static_cast<std::uint64_t>(e.address) < static_cast<std::uint64_t>(program) + size;
  });
}

void clear_exports() {
  std::lock_guard<std::mutex> lock(g_export_mutex);
  g_exports.clear();
}

std::size_t export_count() {
  std::lock_guard<std::mutex> lock(g_export_mutex);
  return g_exports.size();
}

// ---- sources ------------------------------------------------------------------------

int load_source_file(const std::string& path, std::string& text) {
  storage::ExpFilePtr file(storage::OpenExpFile(path));
  if (!file) return cerr::kOpen;
  std::int64_t size = storage::GetExpFileSize(file.get());
  if (size < 0) return cerr::kRead;
  if (size > kMaxSourceSize) return cerr::kNoMemory;
  try {
    text.assign(static_cast<std::size_t>(size), '\0');
  } catch (const std::bad_alloc&) {
    return cerr::kNoMemory;
  }
  std::size_t got = 0;
  if (size > 0 &&
      (!storage::ReadExpFile(file.get(), text.data(), text.size(), &got) || got != text.size()))
    return cerr::kRead;
  return 0;
}

// ---- messages ---------------------------------------------------------------------------

std::string Compilation::current_path() const {
  return files_.empty() ? main_path_ : files_.back().path;
}

int Compilation::current_line() const { return files_.empty() ? 0 : files_.back().line; }

void Compilation::append_message(const std::string& text, const std::string& file, int line) {
  if (!record_messages_) return;
  if (diagnostics_.size() < kMaxDiagnostics) {
    CompileDiagnostic d;
    d.file = file;
    d.line = line;
    d.text = text;
    diagnostics_.push_back(std::move(d));
  }
  // The buffer never overruns: text beyond it is dropped, at a character
  // boundary.
  std::size_t room = kMessageBufferSize - 1 - std::min(messages_.size(), kMessageBufferSize - 1);
  if (text.size() <= room) {
    messages_ += text;
    return;
  }
  std::size_t n = room;
  while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) --n;
  messages_.append(text, 0, n);
}

std::optional<std::string> Compilation::source_line(int file, int line) const {
  for (const SourceFile& f : files_) {
    if (f.index != file) continue;
    std::size_t start = 0;
    for (int n = 1; n < line; ++n) {
      start = f.text.find('\n', start);
      if (start == std::string::npos) return std::nullopt;
      ++start;
    }
    std::size_t end = f.text.find('\n', start);
    std::string text = f.text.substr(start, end == std::string::npos ? end : end - start);
    std::erase(text, '\r');
    return text;
  }
  return std::nullopt;
}

void Compilation::fail_missing_semicolon(int number) {
  if (tok_.kind == T_EOF) compile_fail(cerr::kEof);
  if (tok_.file == prev_file_ && tok_.line > prev_line_ && prev_file_ >= 0 &&
      static_cast<std::size_t>(prev_file_) < file_names_.size()) {
    if (std::optional<std::string> text = source_line(prev_file_, prev_line_)) {
      // The marker goes after the last character of the line that is not
      // blank: where the ';' should have been written.
      std::size_t end = text->find_last_not_of(" \t");
      std::size_t column = end == std::string::npos ? 0 : end + 1;
      fatal_place_ = FatalPlace{file_names_[static_cast<std::size_t>(prev_file_)], prev_line_,
                                std::move(*text), column};
    }
  }
  compile_fail(number);
}

void Compilation::report_fatal(int number) {
  if (!record_messages_) return;
  std::string path = display_text(current_path());
  int line = current_line();
  // The source line, "??" where reading stood, tabs to columns of 4.
  std::string src(line_, static_cast<std::size_t>(line_len_));
  std::size_t cut = src.find_first_of("\r\n");
  if (cut != std::string::npos) src.resize(cut);
  std::size_t at = std::min(static_cast<std::size_t>(line_position()), src.size());
  if (fatal_place_) {
    path = fatal_place_->path;
    line = fatal_place_->line;
    src = fatal_place_->source;
    at = std::min(fatal_place_->column, src.size());
  }
  std::string text =
      path + "(" + std::to_string(line) + ") : " + compile_error_message(number) + "。\n";
  MarkedLine marked = mark_line(src, at);
  text += display_text(marked.expanded) + "\n";
  append_message(text, path, line);
  if (!diagnostics_.empty() && diagnostics_.back().text == text) {
    CompileDiagnostic& d = diagnostics_.back();
    d.error = number;
    d.gloss = "error " + std::to_string(number) + ": " + compile_error_gloss(number);
    if (number == cerr::kUndefined && !undefined_name_.empty())
      d.gloss += " '" + display_text(undefined_name_) + "'";
    if (!fatal_detail_.empty()) d.gloss += ": " + fatal_detail_;
    d.source = display_text(marked.plain);
    d.column = static_cast<int>(marked.caret);
  }
}

Compilation::FatalPlace Compilation::reading_place() const {
  std::string src(line_, static_cast<std::size_t>(line_len_));
  std::size_t cut = src.find_first_of("\r\n");
  if (cut != std::string::npos) src.resize(cut);
  const std::size_t column = std::min(static_cast<std::size_t>(line_position()), src.size());
  return FatalPlace{display_text(current_path()), current_line(), std::move(src), column};
}

void Compilation::warn(const std::string& text, const std::string& gloss) {
  const FatalPlace at = reading_place();
  warn_at(at.path, at.line, at.source, at.column, text, gloss);
}

void Compilation::warn_at(const std::string& path, int line, const std::string& source,
                          std::size_t column, const std::string& text, const std::string& gloss) {
  if (!record_messages_ || warnings_.size() >= kMaxDiagnostics) return;
  CompileDiagnostic d;
  d.file = path;
  d.line = line;
  d.text = d.file + "(" + std::to_string(d.line) + ") : " + display_text(text) + "\n";
  d.gloss = gloss;
  d.warning = true;
  MarkedLine marked = mark_line(source, std::min(column, source.size()));
  d.source = display_text(marked.plain);
  d.column = static_cast<int>(marked.caret);
  warnings_.push_back(std::move(d));
}

void Compilation::missing_token(const char* what) {
  if (tok_.kind == T_EOF) compile_fail(cerr::kEof);
  // The token belongs right after the one before it: that token's line is
  // where it is missing, not the line of whatever comes next.
  std::string path = display_text(current_path());
  int line = current_line();
  if (prev_file_ >= 0 && static_cast<std::size_t>(prev_file_) < file_names_.size() &&
      prev_line_ > 0) {
    path = file_names_[static_cast<std::size_t>(prev_file_)];
    line = prev_line_;
  }
  std::string text = path + "(" + std::to_string(line) + ") : " + what + " がありません\n";
  append_message(text, path, line);
  if (!diagnostics_.empty() && diagnostics_.back().text == text) {
    std::string_view w(what);
    diagnostics_.back().gloss = "missing " + std::string(w == "識別子" ? "identifier" : w);
  }
}

// ---- the end of a compilation ---------------------------------------------------------------

// Functions still forward are linked to exports of earlier compilations or
// reported, as are goto labels never defined.
bool Compilation::end_checks() {
  bool ok = true;
  for (int slot = 0; slot < kGlobalSlots; ++slot) {
    const Symbol& s = symbols_.at(slot);
    if (s.kind == kSymFunction) {
      LabelEntry& l = labels_[s.value];
      if (l.defined) continue;
      std::string name = symbols_.name(slot);
      std::optional<ExportedFunction> e;
      if (name.size() <= kMaxExportName) e = find_export(name);
      if (e && export_alive(*e)) {
        patch_chain(l.word, e->address);
        l.defined = true;
        l.word = e->address;
        continue;
      }
      auto place = first_use_.find(slot);
      std::string file =
          place != first_use_.end() ? display_text(place->second.first) : std::string();
      int line = place != first_use_.end() ? place->second.second : 0;
      append_message(display_text(name) + " 関数は定義されていません。\n", file, line);
      if (!diagnostics_.empty())
        diagnostics_.back().gloss = "function called or declared but never defined";
      ok = false;
    } else if (s.kind == kSymLabelUsed) {
      auto place = first_use_.find(slot);
      std::string file =
          place != first_use_.end() ? display_text(place->second.first) : std::string();
      int line = place != first_use_.end() ? place->second.second : 0;
      append_message(display_text(symbols_.name(slot)) + " ラベルは定義されていません。\n", file,
                     line);
      if (!diagnostics_.empty()) diagnostics_.back().gloss = "goto label never defined";
      ok = false;
    }
  }
  return ok;
}

Compilation::Compilation(const CompileOptions& options) : options_(options) { line_[0] = 0; }

CompileResult Compilation::run(std::string_view path, Addr program, std::uint32_t capacity) {
  record_messages_ = options_.always_record || config().Error != 0;
  script_dir_ = options_.script_dir ? *options_.script_dir : config().script_dir;
  program_ = program;
  capacity_ = capacity;
  main_path_ = script_dir_ + std::string(path);
  CompileResult result;
  bool ok = false;
  try {
    if (program != 0) {
      image_ = span(program, capacity);
      if (!image_) compile_fail(cerr::kNoMemory);
    }
    labels_.assign(kMaxLabels, LabelEntry{});
    symbols_.reset();
    for (const Keyword& k : kKeywords)
      symbols_.add(k.name, false, kSymKeyword, 0, static_cast<std::uint32_t>(k.token));
    // Execution always begins in main.
    int main_label = new_label();
    symbols_.add("main", false, kSymFunction, kTypeInt, static_cast<std::uint32_t>(main_label));
    reset_slots();
    emit_jump(main_label);
    open_source(std::string(path));
    advance();
    compile_unit();
    ok = end_checks();
  } catch (const CompileError& e) {
    result.error = e.number;
    report_fatal(e.number);
    ok = false;
  } catch (const std::bad_alloc&) {
    result.error = cerr::kNoMemory;
    report_fatal(cerr::kNoMemory);
    ok = false;
  }
  files_.clear();

  if (ok && image_ && !exports_.empty()) {
    std::lock_guard<std::mutex> lock(g_export_mutex);
    for (const PendingExport& p : exports_) {
      ExportedFunction e;
      e.name = p.name;
      TypeId t = symbols_.at(p.symbol).extra;
      while (is_pointer(t) && e.return_depth < 255) {
        ++e.return_depth;
        t = target(t);
      }
      e.return_basic = static_cast<std::uint8_t>(is_basic(t) ? t : kTypeInt);
      e.address = labels_[symbols_.at(p.symbol).value].word;
      e.program = program_;
      e.capacity = capacity_;
      auto it = std::find_if(g_exports.begin(), g_exports.end(),
                             [&](const ExportedFunction& x) { return x.name == e.name; });
      if (it != g_exports.end()) *it = e;
      else if (g_exports.size() < kMaxExports) g_exports.push_back(e);
    }
  }

  if (ok && image_) {
    LineTable table;
    table.program = program_;
    table.code_size = code_size_;
    table.files = std::move(file_names_);
    table.lines = std::move(code_lines_);
    table.functions = std::move(code_functions_);
    register_line_table(std::move(table));
    register_array_stores(program_, std::move(array_stores_));
  }

  result.ok = ok;
  result.code_size = code_size_;
  result.data_size = data_size_;
  result.messages = messages_;
  result.diagnostics = std::move(diagnostics_);
  result.warnings = std::move(warnings_);
  if (options_.show_messages) show_compile_messages(result);
  return result;
}

std::string terminal_report(const CompileResult& result, std::string_view prefix) {
  std::string out;
  std::vector<const CompileDiagnostic*> all;
  for (const CompileDiagnostic& d : result.warnings) all.push_back(&d);
  for (const CompileDiagnostic& d : result.diagnostics) all.push_back(&d);
  for (const CompileDiagnostic* each : all) {
    const CompileDiagnostic& d = *each;
    std::string first = d.text.substr(0, d.text.find('\n'));
    out += prefix;
    // Lines of the end-of-compilation checks carry no place of their own:
    // the terminal puts the first use in front.
    if (!d.file.empty() && first.rfind(d.file + "(", 0) != 0)
      out += d.file + "(" + std::to_string(d.line) + ") : ";
    out += first;
    if (!d.gloss.empty()) out += " [" + d.gloss + "]";
    out += '\n';
    if (d.column >= 0) {
      out += "    " + d.source + "\n";
      out += "    " + std::string(static_cast<std::size_t>(d.column), ' ') + "^\n";
    }
  }
  // Lines beyond the diagnostics kept for tools are in the buffer only.
  if (result.diagnostics.empty() && !result.messages.empty())
    out += std::string(prefix) + result.messages;
  return out;
}

void show_compile_messages(const CompileResult& result) {
  if (!result.messages.empty()) {
    report_message_detailed(1, result.messages, terminal_report(result, "talven: "));
    return;
  }
  // Warnings alone never stop a game with a message box: the terminal only.
  if (result.warnings.empty() || config().Error == 0) return;
  std::fputs(terminal_report(result, "talven: ").c_str(), stderr);
  std::fflush(stderr);
}

void Compilation::note_function(int sym, bool builtin) {
  if (!image_) return;
  code_functions_.push_back(CodeFunction{code_size_, display_text(symbols_.name(sym)), builtin});
}

CompileResult compile_script(std::string_view path, Addr program, std::uint32_t capacity,
                             const CompileOptions& options) {
  auto compilation = std::make_unique<Compilation>(options);
  return compilation->run(path, program, capacity);
}

}  // namespace talven::script
