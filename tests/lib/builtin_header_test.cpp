// The builtin header shipped for game authors (sdk/talven.h) against the
// builtin table: every builtin in trap-number order, with as many
// parameters as the table's argument count, and a script that includes it
// reaching the right builtins through the compiler and the trap dispatcher.
// Its named helpers: the font record's layout, the text colour macros, and
// key codes that agree with the key table of the input devices; a game's
// own definition of one of those names takes the header's place.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <SDL_scancode.h>

#include <map>

#include "base/address_space.h"
#include "base/config.h"
#include "input/keymap.h"
#include "runtime/builtins.h"
#include "runtime/trap.h"
#include "script/compiler.h"
#include "script/opcodes.h"
#include "script/vm.h"

namespace talven::runtime {
namespace {

std::string header_text() {
  std::filesystem::path path =
      std::filesystem::path(TALVEN_TEST_DATA) / ".." / ".." / "sdk" / "talven.h";
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

struct Declared {
  std::string name;
  int params;
};

// The declarations that follow #trap lines, in order.
std::vector<Declared> trap_declarations(const std::string& text) {
  std::vector<Declared> out;
  std::istringstream lines(text);
  std::string line;
  bool pending = false;
  std::regex decl(R"(^\s*(?:unsigned|int|float|char|void)\s*\**\s*([a-z_0-9]+)\((.*)\);\s*$)");
  while (std::getline(lines, line)) {
    if (line.rfind("#trap", 0) == 0) {
      EXPECT_FALSE(pending) << "two #trap lines in a row";
      pending = true;
      continue;
    }
    std::smatch m;
    if (pending && std::regex_match(line, m, decl)) {
      std::string params = m[2];
      int count = 0, depth = 0;
      bool any = false;
      for (char c : params) {
        if (c == '(') ++depth;
        if (c == ')') --depth;
        if (c == ',' && depth == 0) ++count;
        if (c != ' ') any = true;
      }
      out.push_back({m[1], any ? count + 1 : 0});
      pending = false;
    } else if (pending && !line.empty()) {
      ADD_FAILURE() << "no declaration after #trap: " << line;
      pending = false;
    }
  }
  return out;
}

TEST(BuiltinHeader, DeclaresEveryBuiltinInTableOrder) {
  std::vector<Declared> decls = trap_declarations(header_text());
  ASSERT_EQ(decls.size(), kBuiltinCount);
  for (std::size_t i = 0; i < kBuiltinCount; ++i) {
    const BuiltinEntry& e = builtin_table[i];
    EXPECT_EQ(decls[i].name, e.name) << "trap " << i;
    if (e.argc >= 0) EXPECT_EQ(decls[i].params, e.argc) << e.name;
    else EXPECT_GE(decls[i].params, 1) << e.name;  // variadic: the fixed part
  }
}

struct VmDeleter {
  void operator()(script::VmContext* c) const { script::vm_free(c); }
};

TEST(BuiltinHeader, CompilesToOneStubPerBuiltinAndReachesTheTable) {
  std::string header = header_text();
  script::CompileOptions o;
  o.script_dir = "";
  o.show_messages = false;
  o.always_record = true;
  o.loader = [&](const std::string& path, std::string& text) {
    if (path == "talven.h") {
      text = header;
      return 0;
    }
    if (path == "main.c") {
      text =
          "#include \"talven.h\"\n"
          "int main() {\n"
          "  char buf[32];\n"
          "  strcpy(buf, \"header\");\n"
          "  strcat(buf, \"-ok\");\n"
          "  return strlen(buf) * 1000 + abs(-7) + (int)(sqrt(16.0) * 10);\n"
          "}\n";
      return 0;
    }
    return 2;
  };
  script::CompileResult m = script::compile_script("main.c", 0, 0, o);
  ASSERT_TRUE(m.ok) << m.messages;
  std::uint32_t size = m.code_size + m.data_size;
  std::unique_ptr<script::VmContext, VmDeleter> ctx(
      script::vm_create(static_cast<std::int32_t>(size), 0x10000));
  ASSERT_TRUE(ctx);
  script::CompileResult r = script::compile_script("main.c", ctx->program, size, o);
  ASSERT_TRUE(r.ok) << r.messages;
  // The stubs follow the entry jump: trap n; ret for builtin n.
  for (std::uint32_t n = 0; n < kBuiltinCount; ++n) {
    std::uint8_t stub[4] = {};
    ASSERT_TRUE(read_bytes(ctx->program + 5 + 4 * n, stub, 4));
    EXPECT_EQ(stub[0], script::OP_TRAP);
    EXPECT_EQ(script::get_u16(stub + 1), n);
    EXPECT_EQ(stub[3], script::OP_RET);
  }
  // Calls reach the builtins (argument counts checked as in DebugMode).
  std::int32_t debug = config().DebugMode;
  config().DebugMode = 1;
  install_trap_dispatch(builtin_table);
  script::vm_stop_flag.clear();
  for (int i = 0; i < 100000 && ctx->state == script::kVmRunning; ++i) script::vm_run(ctx.get());
  script::vm_set_trap_handler(nullptr);
  config().DebugMode = debug;
  EXPECT_EQ(ctx->state, script::kVmFinished);
  EXPECT_EQ(ctx->r[0], 9u * 1000 + 7 + 40);
}

struct ScriptRun {
  script::CompileResult compiled;
  std::uint32_t result = 0;
};

// Compiles main.c (given) with the header and runs it to its end; the
// scripts here call no builtins.
ScriptRun run_with_header(const std::string& main_source) {
  ScriptRun run;
  std::string header = header_text();
  script::CompileOptions o;
  o.script_dir = "";
  o.show_messages = false;
  o.always_record = true;
  o.loader = [&](const std::string& path, std::string& text) {
    if (path == "talven.h") text = header;
    else if (path == "main.c") text = main_source;
    else return 2;
    return 0;
  };
  run.compiled = script::compile_script("main.c", 0, 0, o);
  if (!run.compiled.ok) return run;
  std::uint32_t size = run.compiled.code_size + run.compiled.data_size;
  std::unique_ptr<script::VmContext, VmDeleter> ctx(
      script::vm_create(static_cast<std::int32_t>(size), 0x10000));
  if (!ctx) return run;
  run.compiled = script::compile_script("main.c", ctx->program, size, o);
  if (!run.compiled.ok) return run;
  script::vm_stop_flag.clear();
  for (int i = 0; i < 100000 && ctx->state == script::kVmRunning; ++i) script::vm_run(ctx.get());
  EXPECT_EQ(ctx->state, script::kVmFinished);
  run.result = ctx->r[0];
  return run;
}

TEST(BuiltinHeader, FontRecordAndTextColoursHaveTheRuntimesLayout) {
  // Each failed check sets its own bit of the result.
  ScriptRun r = run_with_header(
      "#include \"talven.h\"\n"
      "struct FontRecord f;\n"
      "int main() {\n"
      "  int bad = 0;\n"
      "  if (sizeof(struct FontRecord) != 48) bad = bad | 1;\n"
      "  if ((int)&f.height - (int)&f != 32) bad = bad | 2;\n"
      "  if ((int)&f.angle - (int)&f != 36) bad = bad | 4;\n"
      "  if ((int)&f.style - (int)&f != 40) bad = bad | 8;\n"
      "  if ((int)&f.weight - (int)&f != 44) bad = bad | 16;\n"
      "  if ((TEXT_COLOUR(3, 2) | TEXT_OPAQUE) != 0x40000203) bad = bad | 32;\n"
      "  if (TEXT_COLOUR(-1, 258) != 0x2FF) bad = bad | 64;\n"
      "  if ((TEXT_HARD_EDGES >> 16 & 0xFFFF) != 0x8000 || (TEXT_HARD_EDGES & 0xFFFF)) bad = bad | "
      "128;\n"
      "  if ((FONT_BOLD | FONT_ITALIC | FONT_UNDERLINE | FONT_STRIKEOUT) != 15 || FONT_SMOOTH != "
      "16)"
      " bad = bad | 256;\n"
      "  return bad;\n"
      "}\n");
  ASSERT_TRUE(r.compiled.ok) << r.compiled.messages;
  EXPECT_EQ(r.result, 0u);
}

// The header's #define lines of a prefix: name after the prefix -> value.
std::map<std::string, int> header_codes(const std::string& prefix) {
  std::map<std::string, int> codes;
  std::regex line("^#define " + prefix + "([A-Z0-9_]+) 0x([0-9A-F]{2})$");
  std::istringstream in(header_text());
  std::string text;
  while (std::getline(in, text)) {
    std::smatch m;
    if (!std::regex_match(text, m, line)) continue;
    EXPECT_TRUE(codes.emplace(m[1], std::stoi(m[2], nullptr, 16)).second) << "twice: " << m[1];
  }
  return codes;
}

// The key table's name for a header key name, where the two differ.
const char* key_table_name(const std::string& name, bool scan_codes) {
  static const std::map<std::string, const char*> common = {
      {"BACK", "Backspace"},
      {"CAPITAL", "CapsLock"},
      {"KANA", "Kana"},
      {"CONVERT", "Henkan"},
      {"NONCONVERT", "Muhenkan"},
      {"PRIOR", "PageUp"},
      {"NEXT", "PageDown"},
      {"LWIN", "LGui"},
      {"RWIN", "RGui"},
      {"APPS", "Menu"},
      {"MULTIPLY", "KP_Multiply"},
      {"ADD", "KP_Plus"},
      {"SUBTRACT", "KP_Minus"},
      {"DECIMAL", "KP_Period"},
      {"DIVIDE", "KP_Divide"},
      {"SCROLL", "ScrollLock"},
      {"LCONTROL", "LCtrl"},
      {"RCONTROL", "RCtrl"},
      {"LMENU", "LAlt"},
      {"RMENU", "RAlt"},
      {"OEM_102", "NonUSBackslash"},
      {"SNAPSHOT", "PrintScreen"},
  };
  static const std::map<std::string, const char*> virtual_keys = {
      {"KANJI", "Zenkaku"},
      {"SEPARATOR", "KP_Comma"},
      {"OEM_NEC_EQUAL", "KP_Equals"},
      {"BROWSER_BACK", "BrowserBack"},
      {"BROWSER_FORWARD", "BrowserForward"},
      {"BROWSER_REFRESH", "BrowserRefresh"},
      {"BROWSER_STOP", "BrowserStop"},
      {"BROWSER_SEARCH", "BrowserSearch"},
      {"BROWSER_FAVORITES", "BrowserFavorites"},
      {"BROWSER_HOME", "BrowserHome"},
      {"VOLUME_MUTE", "Mute"},
      {"VOLUME_DOWN", "VolumeDown"},
      {"VOLUME_UP", "VolumeUp"},
      {"MEDIA_NEXT_TRACK", "AudioNext"},
      {"MEDIA_PREV_TRACK", "AudioPrev"},
      {"MEDIA_STOP", "AudioStop"},
      {"MEDIA_PLAY_PAUSE", "AudioPlay"},
      {"LAUNCH_MAIL", "Mail"},
      {"LAUNCH_MEDIA_SELECT", "MediaSelect"},
      {"LAUNCH_APP1", "MyComputer"},
      {"LAUNCH_APP2", "Calculator"},
      {"OEM_1", "Semicolon"},
      {"OEM_PLUS", "Equals"},
      {"OEM_COMMA", "Comma"},
      {"OEM_MINUS", "Minus"},
      {"OEM_PERIOD", "Period"},
      {"OEM_2", "Slash"},
      {"OEM_3", "Grave"},
      {"OEM_4", "LeftBracket"},
      {"OEM_5", "Backslash"},
      {"OEM_6", "RightBracket"},
      {"OEM_7", "Apostrophe"},
  };
  static const std::map<std::string, const char*> scan = {
      {"KANJI", "Zenkaku"},
      {"NOCONVERT", "Muhenkan"},
      {"LBRACKET", "LeftBracket"},
      {"RBRACKET", "RightBracket"},
      {"ABNT_C1", "Ro"},
      {"YEN", "Yen"},
      {"NUMPADEQUALS", "KP_Equals"},
      {"PREVTRACK", "AudioPrev"},
      {"NEXTTRACK", "AudioNext"},
      {"NUMPADENTER", "KP_Enter"},
      {"NUMPADCOMMA", "KP_Comma"},
      {"PLAYPAUSE", "AudioPlay"},
      {"MEDIASTOP", "AudioStop"},
      {"SYSRQ", "PrintScreen"},
      {"WEBHOME", "BrowserHome"},
      {"WEBSEARCH", "BrowserSearch"},
      {"WEBFAVORITES", "BrowserFavorites"},
      {"WEBREFRESH", "BrowserRefresh"},
      {"WEBSTOP", "BrowserStop"},
      {"WEBFORWARD", "BrowserForward"},
      {"WEBBACK", "BrowserBack"},
      {"MYCOMPUTER", "MyComputer"},
  };
  const auto& own = scan_codes ? scan : virtual_keys;
  if (auto it = own.find(name); it != own.end()) return it->second;
  if (auto it = common.find(name); it != common.end()) return it->second;
  return nullptr;
}

// "NUMPAD7" -> "KP_7"; "LEFT" -> "Left": the key table's spelling.
const input::KeyRow* key_row(const std::string& name, bool scan_codes) {
  if (const char* mapped = key_table_name(name, scan_codes)) return input::key_by_name(mapped);
  if (name.rfind("NUMPAD", 0) == 0 && name.size() == 7)
    return input::key_by_name("KP_" + name.substr(6));
  return input::key_by_name(name);  // letters, digits, F keys and plain words
}

TEST(BuiltinHeader, KeyCodesAgreeWithTheKeyTable) {
  const std::map<std::string, int> vk = header_codes("VK_"), dik = header_codes("DIK_");
  ASSERT_GT(vk.size(), 140u);
  ASSERT_GT(dik.size(), 120u);
  // Codes the key state keeps besides the keys, and the places a Japanese
  // keyboard gives codes of their own.
  const std::map<std::string, int> vk_extra = {
      {"LBUTTON", input::kVkLButton},   {"RBUTTON", input::kVkRButton},
      {"MBUTTON", input::kVkMButton},   {"XBUTTON1", input::kVkXButton1},
      {"XBUTTON2", input::kVkXButton2}, {"SHIFT", input::kVkShift},
      {"CONTROL", input::kVkControl},   {"MENU", input::kVkMenu},
  };
  const std::map<std::string, int> japanese_vk = {{"OEM_AUTO", SDL_SCANCODE_GRAVE}};
  const std::map<std::string, int> japanese_dik = {{"CIRCUMFLEX", SDL_SCANCODE_EQUALS},
                                                   {"AT", SDL_SCANCODE_LEFTBRACKET},
                                                   {"COLON", SDL_SCANCODE_APOSTROPHE}};
  for (const auto& [name, code] : vk) {
    if (auto it = vk_extra.find(name); it != vk_extra.end()) {
      EXPECT_EQ(code, it->second) << "VK_" << name;
    } else if (auto jp = japanese_vk.find(name); jp != japanese_vk.end()) {
      input::use_japanese_layout(true);
      EXPECT_EQ(code, input::vk_of(jp->second, 0)) << "VK_" << name;
      input::use_japanese_layout(false);
    } else {
      const input::KeyRow* row = key_row(name, false);
      ASSERT_TRUE(row) << "VK_" << name << " names no key";
      EXPECT_EQ(code, row->vk) << "VK_" << name;
    }
  }
  for (const auto& [name, code] : dik) {
    if (auto jp = japanese_dik.find(name); jp != japanese_dik.end()) {
      input::use_japanese_layout(true);
      EXPECT_EQ(code, input::dik_of(jp->second)) << "DIK_" << name;
      input::use_japanese_layout(false);
    } else {
      const input::KeyRow* row = key_row(name, true);
      ASSERT_TRUE(row) << "DIK_" << name << " names no key";
      EXPECT_EQ(code, row->dik) << "DIK_" << name;
    }
  }
  // Every code the key table gives has a name (F16-F24, Hangul and Hanja
  // have no scan-code names).
  std::set<int> vk_values, dik_values;
  for (const auto& [name, code] : vk) vk_values.insert(code);
  for (const auto& [name, code] : dik) dik_values.insert(code);
  const std::set<std::string> unnamed_scan = {"F16", "F17", "F18", "F19",    "F20",  "F21",
                                              "F22", "F23", "F24", "Hangul", "Hanja"};
  for (int scancode = 0; scancode < SDL_NUM_SCANCODES; ++scancode) {
    const input::KeyRow* row = input::key_by_scancode(scancode);
    if (!row) continue;
    if (row->vk) {
      EXPECT_TRUE(vk_values.count(row->vk)) << row->name << " has no VK_ name";
    }
    if (row->dik && !unnamed_scan.count(row->name)) {
      EXPECT_TRUE(dik_values.count(row->dik)) << row->name << " has no DIK_ name";
    }
  }
}

TEST(BuiltinHeader, AGamesOwnDefinitionTakesTheHeadersPlace) {
  // After the include (as the examples define their key codes) and before
  // it: the game's value counts either way.
  ScriptRun after = run_with_header(
      "#include \"talven.h\"\n"
      "#define VK_LEFT 37\n"
      "#define VK_SPACE 0x20\n"
      "#define TEXT_COLOUR(a, b) (a + b * 1000)\n"
      "int main() { return VK_LEFT * 100000 + TEXT_COLOUR(1, 2) + VK_RIGHT * 0; }\n");
  ASSERT_TRUE(after.compiled.ok) << after.compiled.messages;
  EXPECT_EQ(after.result, 37u * 100000 + 2001);
  ScriptRun before = run_with_header(
      "#define VK_LEFT 99\n"
      "#include \"talven.h\"\n"
      "int main() { return VK_LEFT * 1000 + VK_RIGHT; }\n");
  ASSERT_TRUE(before.compiled.ok) << before.compiled.messages;
  EXPECT_EQ(before.result, 99u * 1000 + 0x27);
  // A name the game defines twice is still an error, as is a header name
  // the game already uses for something else.
  EXPECT_EQ(run_with_header("#define TWICE 1\n#define TWICE 2\nint main() { return TWICE; }\n")
                .compiled.error,
            4);
  EXPECT_EQ(run_with_header("#include \"talven.h\"\n#define VK_UP 1\n#define VK_UP 2\n"
                            "int main() { return VK_UP; }\n")
                .compiled.error,
            4);
  EXPECT_EQ(run_with_header("int VK_DOWN;\n#include \"talven.h\"\nint main() { return 0; }\n")
                .compiled.error,
            4);
}

}  // namespace
}  // namespace talven::runtime
