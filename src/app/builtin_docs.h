// The builtin reference (docs/builtins.md), generated from the two places
// that define the builtins: the builtin table (number, name, argument count,
// whether the call ends the thread's slice) and the SDK header the binary
// carries (family sections, declarations, the one-line comment on each
// #trap line, notes inside a family, the shared records and the named
// constants after them). The build runs
// `talven builtins --output docs/builtins.md` after linking, so the
// reference always matches what the binary accepts.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace talven {

struct BuiltinDoc {
  int number = 0;
  std::string family;       // the header's "// ---- family ----" title
  std::string declaration;  // as in the header, without the ';'
  std::string name;
  std::string result;  // return type
  std::vector<std::string> parameters;
  std::string summary;  // the #trap line's comment
  int argc = 0;         // from the table; -1 variadic
  bool ends_slice = false;
};

struct RecordField {
  int offset = 0;
  int size = 0;
  std::string type, name, comment;
};

struct RecordDoc {
  std::string name;
  std::string comment;  // the comment lines above it
  int size = 0;
  std::vector<RecordField> fields;
};

// A comment paragraph inside a family of builtins, shown after its table.
struct FamilyNote {
  std::string family;
  std::string text;  // lines; those indented by two spaces are code
};

struct ConstantDoc {
  std::string name;  // with its parameters for a macro that takes some
  std::string value;
};

// A run of #define lines of the records part and the comment above it.
struct ConstantGroup {
  std::string comment;
  std::vector<ConstantDoc> constants;
};

struct BuiltinReference {
  std::vector<BuiltinDoc> builtins;
  std::vector<FamilyNote> family_notes;
  std::vector<RecordDoc> records;
  std::vector<ConstantGroup> constants;
  std::vector<std::string> notes;     // comment paragraphs of the records part
  std::vector<std::string> problems;  // where the header and the table disagree
};

BuiltinReference read_builtin_reference(std::string_view header);
std::string builtin_reference_markdown(const BuiltinReference& reference);

// talven builtins [--output FILE]: prints the reference, or writes it to
// FILE when it changed. Returns the exit status.
int run_builtins_tool(int argc, char** argv);

}  // namespace talven
