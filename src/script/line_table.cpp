#include "script/line_table.h"

#include <algorithm>
#include <mutex>

#include "script/opcodes.h"
#include "script/vm.h"

namespace talven::script {

namespace {

std::mutex g_tables_mutex;
std::vector<LineTable> g_tables;

}  // namespace

void register_line_table(LineTable table) {
  std::lock_guard<std::mutex> lock(g_tables_mutex);
  std::erase_if(g_tables, [&](const LineTable& t) { return t.program == table.program; });
  g_tables.push_back(std::move(table));
}

void forget_line_table(Addr program) {
  std::lock_guard<std::mutex> lock(g_tables_mutex);
  std::erase_if(g_tables, [&](const LineTable& t) { return t.program == program; });
}

std::size_t line_table_count() {
  std::lock_guard<std::mutex> lock(g_tables_mutex);
  return g_tables.size();
}

std::optional<LineTable> line_table_of(Addr program) {
  std::lock_guard<std::mutex> lock(g_tables_mutex);
  for (const LineTable& t : g_tables)
    if (t.program == program) return t;
  return std::nullopt;
}

std::optional<CodePlace> find_code_place(Addr address) {
  std::lock_guard<std::mutex> lock(g_tables_mutex);
  for (const LineTable& t : g_tables) {
    if (address < t.program || address - t.program >= t.code_size) continue;
    const std::uint32_t offset = address - t.program;
    CodePlace place;
    auto line = std::upper_bound(t.lines.begin(), t.lines.end(), offset,
                                 [](std::uint32_t o, const CodeLine& l) { return o < l.offset; });
    if (line != t.lines.begin()) {
      --line;
      if (line->file >= 0 && static_cast<std::size_t>(line->file) < t.files.size())
        place.file = t.files[line->file];
      place.line = line->line;
    }
    auto fn = std::upper_bound(t.functions.begin(), t.functions.end(), offset,
                               [](std::uint32_t o, const CodeFunction& f) { return o < f.offset; });
    if (fn != t.functions.begin()) {
      --fn;
      place.function = fn->name;
      place.builtin = fn->builtin;
      place.at_entry = offset < fn->offset + 5;  // inside the opening `enter`
    }
    return place;
  }
  return std::nullopt;
}

std::vector<CodePlace> call_chain(const VmContext& context, Addr pc, int max_frames) {
  std::vector<CodePlace> chain;
  if (max_frames <= 0) return chain;
  std::optional<CodePlace> here = find_code_place(pc - 1);
  if (!here) return chain;
  Addr frame = context.r[kRegFrame];
  Addr ret = 0;
  // A builtin stub and a function that has not opened its frame yet have
  // their return address on top of the stack; the frame is still the
  // caller's. A stub is not a place of its own: its caller is.
  const bool frameless = here->builtin || here->at_entry;
  if (!here->builtin) chain.push_back(*here);
  if (frameless && !load32(context.r[kRegStack], ret)) return chain;
  for (int guard = 0; static_cast<int>(chain.size()) < max_frames && guard < 64; ++guard) {
    if (!frameless || guard > 0) {
      Addr caller_frame = 0;
      if (!load32(frame + 4, ret) || !load32(frame, caller_frame)) break;
      frame = caller_frame;
    }
    if (ret == kReturnFinish || ret == 0) break;
    std::optional<CodePlace> p = find_code_place(ret - 1);
    if (!p) break;
    chain.push_back(*p);
  }
  return chain;
}

std::string describe_call_chain(const std::vector<CodePlace>& chain) {
  std::string out;
  for (const CodePlace& p : chain) {
    out += "  at ";
    out += p.file.empty() ? std::string("?") : p.file;
    out += "(" + std::to_string(p.line) + ")";
    if (!p.function.empty()) out += " in " + p.function;
    out += '\n';
  }
  return out;
}

std::string runtime_error_report(std::string_view message, std::string_view gloss,
                                 const VmContext* context, Addr pc) {
  std::string out = "talven: ";
  out += message;
  out += " [run-time error: ";
  out += gloss;
  out += "]\n";
  if (context) out += describe_call_chain(call_chain(*context, pc));
  return out;
}

}  // namespace talven::script
