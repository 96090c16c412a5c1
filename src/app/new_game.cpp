#include "app/new_game.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "base/host_file.h"
#include "base/game_path.h"
#include "base/messages.h"
#include "storage/file_layer.h"

namespace talven {

namespace {

namespace fs = std::filesystem;

// Program names become file and folder names on every system a game may be
// copied to, so they keep to letters, digits, '_' and '-'.
bool valid_name(const std::string& name) {
  if (name.empty() || name.size() > 64 || name[0] == '-') return false;
  for (char c : name) {
    bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
              c == '_' || c == '-';
    if (!ok) return false;
  }
  return true;
}

std::string config_text(const std::string& name) {
  return "; " + name + ".cfg: the configuration of the game " + name +
         ".\n"
         "; Lines starting with ';' are comments. Every key has a default; these are the\n"
         "; ones a new game usually sets.\n"
         "[General]\n"
         "; Window title.\n"
         "Title=" +
         name +
         "\n"
         "; Where data files come from: 1 archives (FOLDER.bin) only, 2 loose files only,\n"
         "; 3 both. Loose files let you edit scripts and images and run again at once.\n"
         "FileSystem=3\n"
         "; Messages shown: 0 none, 1 errors, 2 errors and file notices.\n"
         "Error=1\n"
         "; 1 opens the debug output window (F8) that log_out writes to.\n"
         "DebugMode=0\n"
         "[Screen]\n"
         "; Size of the game's screen in pixels and its colour depth (16, 24 or 32).\n"
         "Width=640\n"
         "Height=480\n"
         "Depth=32\n"
         "; 1 starts in full screen (Alt+Enter switches).\n"
         "FullScreen=0\n"
         "[Window]\n"
         "; 1 lets the player resize the window; the screen is scaled to it.\n"
         "Resize=1\n"
         "[Script]\n"
         "; The main script, inside the folder " +
         name +
         "\\ (the default is main.c).\n"
         ";Load=main.c\n";
}

// main.c is UTF-8 with a byte order mark, so that an editor keeps it UTF-8
// and the compiler reads it as such: Japanese text in its literals needs no
// CP932 editor.
std::string main_script_text(const std::string& name) {
  return "\xEF\xBB\xBF// " + name +
         ": a new talven game. It clears the screen, moves a square\n"
         "// across it and presents each frame, until the window is closed.\n"
         "// This file is UTF-8; strings reach the game as CP932.\n"
         "#include \"talven.h\"\n"
         "\n"
         "#define PAGE 0\n"
         "\n"
         "int main() {\n"
         "  int x = 0;\n"
         "  int dx = 4;\n"
         "  while (1) {\n"
         "    gclear(PAGE, 0, 0xFF203050);\n"
         "    gfill(PAGE, x, 200, 80, 80, 0xFFF0B040);\n"
         "    update(0);\n"
         "    x = x + dx;\n"
         "    if (x < 0 || x > 640 - 80) dx = -dx;\n"
         "    sleep(16);\n"
         "  }\n"
         "  return 0;\n"
         "}\n";
}

// README.txt: how to run and check the game, with commands that work as
// written from the game's folder.
std::string readme_text(const std::string& name) {
  const std::string script = name + "/main.c";
  auto row = [](const std::string& command, const std::string& what) {
    std::string line = "  " + command;
    line +=
        command.size() < 30 ? std::string(30 - command.size(), ' ') : "\n" + std::string(32, ' ');
    return line + what + "\n";
  };
  return name + "\n" + std::string(name.size(), '=') +
         "\n\n"
         "A game for the talven runtime.\n\n"
         "From this folder:\n" +
         row("talven .", "run the game in a window (or: talven PATH/TO/THIS/FOLDER)") +
         row("talven --headless --frames 120 --screenshot shot.png .",
             "run it without a window for 120 frames and save the last one") +
         row("talven check " + script, "compile the main script and show its diagnostics") +
         row("talven builtins --output builtins.md", "write the reference of every builtin") +
         "\nA headless run ends with the main script's result as its exit status (124\n"
         "when --frames or --timeout ends it first). `talven --help` lists every\n"
         "option and tool.\n\n"
         "Files:\n" +
         row(name + ".cfg", "configuration (window, screen, where files come from)") +
         row(script, "the main script; execution starts in main()") +
         "\n\"talven.h\" declares every builtin function; the runtime supplies it, so it\n"
         "need not be in this folder. A talven.h of your own beside main.c is used\n"
         "instead. Paths in scripts are relative to this folder, e.g. \"" +
         name +
         "\\\\img\\\\a.png\".\n\n"
         "An installed talven also has its manual page (man talven), and a tutorial\n"
         "that builds a whole game step by step in share/doc/talven/tutorial.md\n"
         "(under /usr or /usr/local).\n";
}

bool write_new_file(const fs::path& path, const std::string& text) {
  std::error_code ec;
  if (fs::exists(path, ec)) {
    std::fprintf(stderr, "talven new: %s already exists; nothing was changed\n",
                 host_file::from_fs_path(path).c_str());
    return false;
  }
  std::ofstream out(path, std::ios::binary);
  out << text;
  out.close();
  if (!out) {
    std::fprintf(stderr, "talven new: cannot write %s\n", host_file::from_fs_path(path).c_str());
    return false;
  }
  return true;
}

}  // namespace

int run_new_game(int argc, char** argv) {
  if (argc < 1 || argc > 2) {
    std::fprintf(stderr, "usage: talven new NAME [DIR]\n");
    return 2;
  }
  const std::string name = argv[0];
  if (!valid_name(name)) {
    std::fprintf(stderr, "talven new: the name must be 1 to 64 letters, digits, '_' or '-': %s\n",
                 argv[0]);
    return 2;
  }
  const fs::path dir = argc == 2 ? host_file::fs_path(argv[1]) : fs::path(name);
  const fs::path cfg = dir / (name + ".cfg");
  const fs::path script = dir / name / "main.c";
  const fs::path readme = dir / "README.txt";
  std::error_code ec;
  for (const fs::path& p : {cfg, script, readme}) {
    if (fs::exists(p, ec)) {
      std::fprintf(stderr, "talven new: %s already exists; nothing was changed\n",
                   host_file::from_fs_path(p).c_str());
      return 1;
    }
  }
  fs::create_directories(dir / name, ec);
  if (ec) {
    std::fprintf(stderr, "talven new: cannot create %s: %s\n",
                 host_file::from_fs_path(dir / name).c_str(), ec.message().c_str());
    return 1;
  }
  if (!write_new_file(cfg, config_text(name)) || !write_new_file(script, main_script_text(name)) ||
      !write_new_file(readme, readme_text(name)))
    return 1;
  std::printf("created %s, %s and %s\nrun it with: talven %s\n",
              host_file::from_fs_path(cfg).c_str(), host_file::from_fs_path(script).c_str(),
              host_file::from_fs_path(readme).c_str(), host_file::from_fs_path(dir).c_str());
  return 0;
}

std::string missing_main_script_hint(const Config& c) {
  if (c.Load.empty() || (c.FileSystem & 2) != 0) return "";
  const std::string name = c.script_dir + c.Load;
  if (!resolve_game_path(name)) return "";
  // Found as an archive entry after all: the failure is something else.
  if (storage::ExpFilePtr f{storage::OpenExpFile(name)}) return "";
  return "hint: " + display_text(name) +
         " exists as a loose file, but FileSystem=" + std::to_string(c.FileSystem) +
         " reads archives only; set FileSystem=3 in the [General] section of the configuration"
         " to read loose files too\n";
}

}  // namespace talven
