#include "app/command_line.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/builtin_docs.h"
#include "app/bundle.h"
#include "app/game.h"
#include "app/new_game.h"
#include "graphics/render3d/model_tools.h"
#include "runtime/fault_report.h"
#include "script/script_tools.h"
#include "storage/storage_tools.h"

namespace talven {

namespace {

constexpr const char* kVersion = "0.1.0";

void print_help(std::FILE* out) {
  std::fprintf(
      out,
      "usage: talven [options] GAME\n"
      "       talven TOOL [arguments]\n"
      "\n"
      "Runs a script-driven 2D game. GAME is the game's folder or its program\n"
      "name, e.g. GAME/NAME.exe (that file need not exist: its folder and name\n"
      "choose the configuration NAME.cfg and the scripts' folder NAME/).\n"
      "\n"
      "options:\n"
      "  --headless            no window, no audio device (also when there is no display)\n"
      "  --log                 print log_out lines on standard output\n"
      "  --screenshot FILE     save the last presented frame as PNG at exit\n"
      "  --timeout SECONDS     stop the game after this long (exit status 124)\n"
      "  --frames N            stop after N presented frames (exit status 124)\n"
      "  --config KEY=VALUE    override a configuration key (repeatable)\n"
      "  --audio-out FILE      record the mixed sound output as a WAV file\n"
      "  --audio-fast          headless sound keeps pace with the game, not the clock\n"
      "  --input FILE          replay recorded input (keys, mouse, text, joysticks)\n"
      "  --record-input FILE   record the input of a windowed run into FILE\n"
      "  --untrusted           refuse programs, native libraries and file operations\n"
      "                        outside the game's folder and its save folder\n"
      "  --help                show this text\n"
      "  --version             show the version\n"
      "\n"
      "A game runs in a window until it is closed (F8 shows the debug output\n"
      "with DebugMode=1, Alt+Enter switches to full screen). A headless run\n"
      "ends when the last script thread ends; its exit status is\n"
      "the main script's result (low 8 bits), 121 after a compile error, 122\n"
      "after a run-time error.\n"
      "\n"
      "tools for game authors:\n");
  auto list = [out](const auto& tools) {
    for (const auto& tool : tools) {
      std::string line = std::string(tool.name) + " " + tool.usage;
      std::fprintf(out, "  %-40s %s\n", line.c_str(), tool.help);
    }
  };
  list(std::initializer_list<script::ScriptTool>{
      {"new", "NAME [DIR]",
       "create a game folder (NAME.cfg, NAME/main.c, README.txt) that runs at once"},
      {"builtins", "[--output FILE]", "print the reference of every builtin function (Markdown)"},
      {"bundle", "GAME OUT [--linux] [--windows] [--windows-from DIR] [--archive] [--backslash]",
       "write the folder players start GAME from (the runtime named after it, its data)"}});
  list(script::script_tools());
  list(storage::storage_tools());
  list(graphics::render3d::model_tools());
}

}  // namespace

int run_command_line(int argc, char** argv) {
  runtime::install_fault_report();
  // A program named after a game whose configuration lies beside it runs
  // that game when no other is named (bundles made by `talven bundle`).
  const std::string bundled = bundled_game_program();
  if (argc < 2) {
    if (!bundled.empty()) {
      RunOptions options;
      options.game = bundled;
      return run_game(options);
    }
    print_help(stderr);
    return 2;
  }
  std::string first = argv[1];
  if (first == "--help" || first == "-h") {
    print_help(stdout);
    return 0;
  }
  if (first == "--version") {
    std::printf("talven %s\n", kVersion);
    return 0;
  }
  if (storage::is_storage_tool(first)) return storage::run_storage_tool(argc - 1, argv + 1);
  if (script::is_script_tool(first)) return script::run_script_tool(argc - 1, argv + 1);
  if (first == "new") return run_new_game(argc - 2, argv + 2);
  if (first == "builtins") return run_builtins_tool(argc - 2, argv + 2);
  if (first == "bundle") return run_bundle_tool(argc - 2, argv + 2);
  if (graphics::render3d::is_model_tool(first))
    return graphics::render3d::run_model_tool(argc - 1, argv + 1);

  RunOptions options;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    auto value = [&](const char* what) -> const char* {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "talven: %s needs %s\n", a.c_str(), what);
        return nullptr;
      }
      return argv[++i];
    };
    if (a == "--headless") {
      options.headless = true;
    } else if (a == "--screenshot") {
      const char* v = value("a file name");
      if (!v) return kExitUsage;
      options.screenshot = v;
    } else if (a == "--log") {
      options.log = true;
    } else if (a == "--audio-out" || a == "--input" || a == "--record-input") {
      const char* v = value("a file name");
      if (!v) return kExitUsage;
      (a == "--audio-out" ? options.audio_out
       : a == "--input"   ? options.input_file
                          : options.record_input) = v;
    } else if (a == "--audio-fast") {
      options.audio_fast = true;
    } else if (a == "--untrusted") {
      options.untrusted = true;
    } else if (a == "--timeout") {
      const char* v = value("a number of seconds");
      if (!v) return kExitUsage;
      char* end = nullptr;
      options.timeout_seconds = std::strtod(v, &end);
      if (end == v || *end || options.timeout_seconds < 0) {
        std::fprintf(stderr, "talven: bad --timeout %s\n", v);
        return kExitUsage;
      }
    } else if (a == "--frames") {
      const char* v = value("a count");
      if (!v) return kExitUsage;
      char* end = nullptr;
      options.frames = std::strtoll(v, &end, 10);
      if (end == v || *end || options.frames < 0) {
        std::fprintf(stderr, "talven: bad --frames %s\n", v);
        return kExitUsage;
      }
    } else if (a == "--config") {
      const char* v = value("KEY=VALUE");
      if (!v) return kExitUsage;
      std::string kv = v;
      auto eq = kv.find('=');
      if (eq == std::string::npos || eq == 0) {
        std::fprintf(stderr, "talven: bad --config %s (KEY=VALUE)\n", v);
        return kExitUsage;
      }
      options.overrides.emplace_back(kv.substr(0, eq), kv.substr(eq + 1));
    } else if (a.size() > 1 && a[0] == '-') {
      std::fprintf(stderr, "talven: unknown option %s (see --help)\n", a.c_str());
      return kExitUsage;
    } else if (options.game.empty()) {
      options.game = a;
    } else {
      std::fprintf(stderr, "talven: more than one game given\n");
      return kExitUsage;
    }
  }
  if (options.game.empty()) options.game = bundled;
  if (options.game.empty()) {
    print_help(stderr);
    return kExitUsage;
  }
  return run_game(options);
}

}  // namespace talven
