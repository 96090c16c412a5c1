#include "app/builtin_docs.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>

#include "runtime/builtins.h"
#include "base/host_file.h"
#include "script/sdk_header.h"

namespace talven {

namespace {

std::string trim(std::string s) {
  std::size_t a = s.find_first_not_of(" \t\r");
  if (a == std::string::npos) return "";
  std::size_t b = s.find_last_not_of(" \t\r");
  return s.substr(a, b - a + 1);
}

std::vector<std::string> lines_of(std::string_view text) {
  std::vector<std::string> lines;
  std::string line;
  std::istringstream in{std::string(text)};
  while (std::getline(in, line)) lines.push_back(line);
  return lines;
}

// Text after "//" with the slashes and the spaces after them removed.
std::string comment_text(const std::string& line) {
  std::size_t at = line.find("//");
  return at == std::string::npos ? "" : trim(line.substr(at + 2));
}

std::string without_comment(const std::string& line) {
  std::size_t at = line.find("//");
  return trim(at == std::string::npos ? line : line.substr(0, at));
}

// Sizes of the header's field types; records defined earlier join in.
int type_size(const std::string& type, const std::map<std::string, int>& records) {
  if (type.find('*') != std::string::npos) return 4;
  std::string t = trim(type);
  if (t.rfind("struct ", 0) == 0) {
    auto it = records.find(trim(t.substr(7)));
    return it == records.end() ? 0 : it->second;
  }
  if (t == "char" || t == "unsigned char" || t == "signed char") return 1;
  if (t == "short" || t == "unsigned short") return 2;
  return 4;  // int, unsigned, long, float
}

// Markdown table cells may not hold '|'.
std::string cell(std::string s) {
  std::string out;
  for (char c : s) out += c == '|' ? std::string("\\|") : std::string(1, c);
  return out;
}

// A comment paragraph as Markdown: its prose lines joined into one
// paragraph, runs of lines indented by two spaces as a block of code.
std::string comment_markdown(const std::string& text) {
  std::string out, prose, code;
  auto flush = [&] {
    if (!prose.empty()) out += trim(prose) + "\n\n";
    if (!code.empty()) out += "```c\n" + code + "```\n\n";
    prose.clear();
    code.clear();
  };
  for (const std::string& line : lines_of(text)) {
    if (line.rfind("  ", 0) == 0) {
      if (!prose.empty()) flush();
      code += line.substr(2) + "\n";
    } else {
      if (!code.empty()) flush();
      prose += line + " ";
    }
  }
  flush();
  return out;
}

// "NAME value" or "NAME(a, b) value" after "#define ".
ConstantDoc constant_of(const std::string& definition) {
  ConstantDoc c;
  std::size_t end = 0;
  while (end < definition.size() &&
         (std::isalnum(static_cast<unsigned char>(definition[end])) || definition[end] == '_'))
    ++end;
  if (end < definition.size() && definition[end] == '(') {
    std::size_t close = definition.find(')', end);
    end = close == std::string::npos ? definition.size() : close + 1;
  }
  c.name = definition.substr(0, end);
  c.value = trim(definition.substr(end));
  return c;
}

}  // namespace

BuiltinReference read_builtin_reference(std::string_view header) {
  BuiltinReference ref;
  const std::vector<std::string> lines = lines_of(header);
  const std::regex section(R"(^// ---- (.*) ----\s*$)");
  const std::regex declaration(R"(^(.*?)\b(\w+)\s*\((.*)\)\s*;?$)");
  const std::regex field(R"(^(.*?)(\w+)\s*(\[(\d+)\])?$)");
  std::string family;
  // The records part begins at the "records" section and runs to the end.
  bool in_records = false;
  bool in_constants = false;  // within a run of #define lines
  std::string pending_comment;
  std::string family_note;
  auto end_family_note = [&] {
    if (!family_note.empty() && !family.empty()) ref.family_notes.push_back({family, family_note});
    family_note.clear();
  };
  std::map<std::string, int> record_sizes;
  std::smatch m;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const std::string& line = lines[i];
    if (std::regex_match(line, m, section)) {
      end_family_note();
      family = m[1];
      in_records = in_records || family.rfind("records", 0) == 0;
      in_constants = false;
      pending_comment.clear();
      continue;
    }
    if (line.rfind("#trap", 0) == 0) {
      end_family_note();
      BuiltinDoc doc;
      doc.number = static_cast<int>(ref.builtins.size());
      doc.family = family;
      doc.summary = comment_text(line);
      std::size_t j = i + 1;
      while (j < lines.size() && (trim(lines[j]).empty() || trim(lines[j]).rfind("//", 0) == 0))
        ++j;
      if (j >= lines.size()) {
        ref.problems.push_back("no declaration after the last #trap");
        break;
      }
      doc.declaration = without_comment(lines[j]);
      if (!doc.declaration.empty() && doc.declaration.back() == ';') doc.declaration.pop_back();
      std::string decl = doc.declaration;
      if (std::regex_match(decl, m, declaration)) {
        doc.result = trim(m[1]);
        doc.name = m[2];
        std::string params = m[3];
        // Split at top-level commas (function pointer parameters nest).
        int depth = 0;
        std::string current;
        for (char c : params) {
          if (c == '(') ++depth;
          if (c == ')') --depth;
          if (c == ',' && depth == 0) {
            doc.parameters.push_back(trim(current));
            current.clear();
          } else {
            current += c;
          }
        }
        if (!trim(current).empty()) doc.parameters.push_back(trim(current));
      } else {
        ref.problems.push_back("cannot read the declaration of builtin " +
                               std::to_string(doc.number));
      }
      if (doc.summary.empty())
        ref.problems.push_back("builtin " + doc.name + " has no comment on its #trap line");
      if (static_cast<std::size_t>(doc.number) < runtime::kBuiltinCount) {
        const runtime::BuiltinEntry& e = runtime::builtin_table[doc.number];
        doc.argc = e.argc;
        doc.ends_slice = e.ends_slice != 0;
        if (doc.name != e.name)
          ref.problems.push_back("builtin " + std::to_string(doc.number) + " is " + e.name +
                                 " in the table but " + doc.name + " in the header");
        else if (e.argc >= 0 && static_cast<int>(doc.parameters.size()) != e.argc)
          ref.problems.push_back(doc.name + " takes " + std::to_string(e.argc) +
                                 " arguments in the table, " +
                                 std::to_string(doc.parameters.size()) + " in the header");
      } else {
        ref.problems.push_back("the header declares more builtins than the table holds");
      }
      ref.builtins.push_back(std::move(doc));
      i = j;
      continue;
    }
    const std::string t = trim(line);
    if (!in_records) {
      // A comment paragraph between the builtins belongs to their family.
      if (t.rfind("//", 0) == 0) {
        std::string text = t.substr(2);
        if (!text.empty() && text[0] == ' ') text.erase(0, 1);
        family_note += text + '\n';
      } else {
        end_family_note();
      }
      continue;
    }
    if (t.rfind("#define ", 0) == 0) {
      if (!in_constants) {
        ref.constants.push_back({pending_comment, {}});
        pending_comment.clear();
        in_constants = true;
      }
      ref.constants.back().constants.push_back(constant_of(trim(t.substr(8))));
      continue;
    }
    in_constants = false;
    if (t.rfind("//", 0) == 0) {
      // The comment keeps its own indentation after "// ".
      std::string text = t.substr(2);
      if (!text.empty() && text[0] == ' ') text.erase(0, 1);
      pending_comment += text + '\n';
      continue;
    }
    if (t.empty()) {
      if (!pending_comment.empty()) ref.notes.push_back(pending_comment);
      pending_comment.clear();
      continue;
    }
    if (t.rfind("struct ", 0) == 0 && t.back() == '{') {
      RecordDoc rec;
      rec.name = trim(t.substr(7, t.size() - 8));
      rec.comment = pending_comment;
      pending_comment.clear();
      int offset = 0;
      for (++i; i < lines.size() && trim(lines[i]).rfind("}", 0) != 0; ++i) {
        std::string body = without_comment(lines[i]);
        if (body.empty()) continue;
        if (body.back() == ';') body.pop_back();
        if (!std::regex_match(body, m, field)) continue;
        RecordField f;
        f.type = trim(m[1]);
        f.name = m[2];
        int count = m[4].matched ? std::stoi(m[4]) : 1;
        f.size = type_size(f.type, record_sizes) * count;
        if (m[4].matched) f.name += "[" + std::string(m[4]) + "]";
        f.offset = offset;
        f.comment = comment_text(lines[i]);
        offset += f.size;
        rec.fields.push_back(f);
      }
      rec.size = offset;
      record_sizes[rec.name] = offset;
      ref.records.push_back(std::move(rec));
    }
  }
  end_family_note();
  if (!pending_comment.empty()) ref.notes.push_back(pending_comment);
  if (ref.builtins.size() != runtime::kBuiltinCount)
    ref.problems.push_back("the header declares " + std::to_string(ref.builtins.size()) +
                           " builtins, the table " + std::to_string(runtime::kBuiltinCount));
  return ref;
}

std::string builtin_reference_markdown(const BuiltinReference& ref) {
  std::string out;
  out += "# Builtin functions\n\n";
  out +=
      "<!-- Generated by `talven builtins` from the builtin table and sdk/talven.h"
      " when talven is built; do not edit. -->\n\n";
  out += "Scripts reach the runtime through " + std::to_string(ref.builtins.size()) +
         " builtin functions, declared in `talven.h` (the runtime supplies it to every game). "
         "Every argument and result is one 32-bit word: an integer, a float, or an address. "
         "Floats must be passed as float values (`2.0`, not `2`). A builtin marked *variadic* "
         "takes any number of further arguments after the ones declared. After most builtins the "
         "calling "
         "thread gives way to the other script threads; those marked *keeps its turn* let it run "
         "on. With `DebugMode=1` the runtime checks the "
         "number of arguments of every call of a builtin that is not variadic.\n\n";
  if (!ref.problems.empty()) {
    out += "**The header and the builtin table disagree:**\n\n";
    for (const std::string& p : ref.problems) out += "- " + p + "\n";
    out += "\n";
  }
  out += "Families:";
  std::string family;
  for (const BuiltinDoc& b : ref.builtins) {
    if (b.family != family) {
      family = b.family;
      std::string anchor;
      for (char c : family) {
        if (std::isalnum(static_cast<unsigned char>(c)))
          anchor += static_cast<char>(std::tolower(c));
        else if (c == ' ' || c == '-') anchor += '-';
      }
      out += (out.back() == ':' ? " " : ", ") + std::string("[") + family + "](#" + anchor + ")";
    }
  }
  out += ", [records and constants](#records-and-constants).\n";
  family.clear();
  auto family_notes = [&](const std::string& of) {
    std::string text;
    for (const FamilyNote& n : ref.family_notes)
      if (n.family == of) text += comment_markdown(n.text);
    if (!text.empty()) out += "\n" + text.substr(0, text.size() - 1);
  };
  for (const BuiltinDoc& b : ref.builtins) {
    if (b.family != family || b.number == 0) {
      if (!family.empty()) family_notes(family);
      family = b.family;
      out += "\n## " + family + "\n\n";
      out += "| No. | Builtin | Arguments | Result | What it does |\n|---|---|---|---|---|\n";
    }
    std::string args;
    for (const std::string& p : b.parameters) args += (args.empty() ? "" : ", ") + ("`" + p + "`");
    if (b.argc < 0) args += args.empty() ? "any (variadic)" : ", ... (variadic)";
    if (args.empty()) args = "none";
    std::string what = b.summary;
    if (!b.ends_slice) what += " (keeps its turn)";
    out += "| " + std::to_string(b.number) + " | `" + b.name + "` | " + cell(args) + " | `" +
           b.result + "` | " + cell(what) + " |\n";
  }
  if (!family.empty()) family_notes(family);
  out += "\n## Records and constants\n\n";
  for (const std::string& note : ref.notes) out += "```text\n" + note + "```\n\n";
  for (const RecordDoc& r : ref.records) {
    out += "### struct " + r.name + " (" + std::to_string(r.size) + " bytes)\n\n";
    if (!r.comment.empty()) {
      std::string c = r.comment;
      for (char& ch : c)
        if (ch == '\n') ch = ' ';
      out += trim(c) + "\n\n";
    }
    out += "| Offset | Size | Type | Field | Meaning |\n|---|---|---|---|---|\n";
    for (const RecordField& f : r.fields)
      out += "| " + std::to_string(f.offset) + " | " + std::to_string(f.size) + " | `" + f.type +
             "` | `" + f.name + "` | " + cell(f.comment) + " |\n";
    out += "\n";
  }
  if (!ref.constants.empty()) out += "### Constants\n\n";
  for (const ConstantGroup& g : ref.constants) {
    out += comment_markdown(g.comment);
    // Long runs (key codes) take four names to a row.
    const std::size_t per_row = g.constants.size() > 12 ? 4 : 1;
    for (std::size_t c = 0; c < per_row; ++c) out += "| Name | Value ";
    out += "|\n";
    for (std::size_t c = 0; c < per_row; ++c) out += "|---|---";
    out += "|\n";
    for (std::size_t k = 0; k < g.constants.size(); k += per_row) {
      for (std::size_t c = k; c < k + per_row; ++c) {
        if (c < g.constants.size())
          out += "| `" + g.constants[c].name + "` | `" + cell(g.constants[c].value) + "` ";
        else out += "| | ";
      }
      out += "|\n";
    }
    out += "\n";
  }
  return out;
}

int run_builtins_tool(int argc, char** argv) {
  std::string output;
  for (int i = 0; i < argc; ++i) {
    if (std::strcmp(argv[i], "--output") == 0 && i + 1 < argc) {
      output = argv[++i];
    } else {
      std::fprintf(stderr, "usage: talven builtins [--output FILE]\n");
      return 2;
    }
  }
  const BuiltinReference ref = read_builtin_reference(script::builtin_sdk_header());
  for (const std::string& p : ref.problems)
    std::fprintf(stderr, "talven builtins: %s\n", p.c_str());
  const std::string text = builtin_reference_markdown(ref);
  if (output.empty()) {
    std::fputs(text.c_str(), stdout);
    return 0;
  }
  std::ifstream in(host_file::fs_path(output), std::ios::binary);
  std::stringstream old;
  old << in.rdbuf();
  if (in && old.str() == text) return 0;
  std::ofstream out(host_file::fs_path(output), std::ios::binary | std::ios::trunc);
  out << text;
  out.close();
  if (!out) {
    std::fprintf(stderr, "talven builtins: cannot write %s\n", output.c_str());
    return 1;
  }
  return 0;
}

}  // namespace talven
