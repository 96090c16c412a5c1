// The check and disasm tools. disasm compiles a script the way the loader
// does (measure, create the area, compile into it) and prints the image;
// check runs the measuring compilation only and reports its diagnostics.
#include "script/script_tools.h"

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "base/game_path.h"
#include "base/host_file.h"
#include "base/config.h"
#include "script/compiler.h"
#include "script/disasm.h"
#include "script/vm.h"
#include "storage/file_layer.h"

namespace talven::script {

namespace {

constexpr ScriptTool kTools[] = {
    {"check", "FILE.c [-I DIR]... [--config KEY=VALUE]...",
     "compile a script without running it and print its diagnostics"},
    {"disasm", "FILE.c [-I DIR]... [--config KEY=VALUE]...",
     "print the compiled image of a script"},
};

// Sources beside the script on disk first, then through the data file
// layer (archives, compressed files).
int tool_loader(const std::string& path, std::string& text) {
  if (std::optional<std::string> host = resolve_game_path(path)) {
    // Read in large chunks into one string, no stream copies; sources past
    // the compiler's limit are refused as the file layer's loader does.
    std::FILE* in = host_file::open_stdio(*host, "rb");
    if (in) {
      constexpr std::size_t kLimit = 64u << 20;
      std::string data;
      if (std::fseek(in, 0, SEEK_END) == 0) {
        long size = std::ftell(in);
        if (size > 0 && static_cast<std::size_t>(size) <= kLimit)
          data.reserve(static_cast<std::size_t>(size));
        std::rewind(in);
      }
      char chunk[1 << 16];
      bool too_large = false;
      for (std::size_t n; !too_large && (n = std::fread(chunk, 1, sizeof chunk, in)) > 0;) {
        too_large = data.size() + n > kLimit;
        if (!too_large) data.append(chunk, n);
      }
      const bool failed = std::ferror(in) != 0;
      std::fclose(in);
      if (too_large) return 1;
      if (failed) return 3;
      text = std::move(data);
      return 0;
    }
  }
  return load_source_file(path, text);
}

// The same places without opening anything, so that a missing "talven.h"
// falls back to the built-in copy without a notice.
bool tool_probe(const std::string& path) {
  std::error_code ec;
  if (std::optional<std::string> host = resolve_game_path(path))
    if (std::filesystem::is_regular_file(host_file::fs_path(*host), ec)) return true;
  return storage::DataFileExists(path);
}

struct VmDeleter {
  void operator()(VmContext* c) const { vm_free(c); }
};

void print_diagnostics(const CompileResult& r) { std::fputs(terminal_report(r).c_str(), stdout); }

void print_data(Addr start, std::uint32_t size) {
  for (std::uint32_t off = 0; off < size; off += 16) {
    std::printf("%08X ", start + off);
    std::string chars;
    for (std::uint32_t i = off; i < off + 16 && i < size; ++i) {
      std::uint8_t b = 0;
      load8(start + i, b);
      std::printf(" %02X", b);
      chars += b >= 0x20 && b < 0x7F ? static_cast<char>(b) : '.';
    }
    for (std::uint32_t i = size; i < off + 16; ++i) std::printf("   ");
    std::printf("  %s\n", chars.c_str());
  }
}

}  // namespace

std::span<const ScriptTool> script_tools() { return kTools; }

bool is_script_tool(std::string_view name) {
  for (const ScriptTool& t : kTools)
    if (name == t.name) return true;
  return false;
}

int run_script_tool(int argc, char** argv) {
  if (argc < 1 || !is_script_tool(argv[0])) return 2;
  std::string tool = argv[0];
  std::string file;
  std::vector<std::string> include_dirs;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if ((arg == "-I" && i + 1 < argc) || (arg.size() > 2 && arg.rfind("-I", 0) == 0)) {
      std::string dir = arg == "-I" ? argv[++i] : arg.substr(2);
      // An empty folder is the current one; every folder ends in '/'.
      if (dir.empty()) dir.push_back('.');
      if (dir.back() != '/') dir.push_back('/');
      include_dirs.push_back(std::move(dir));
    } else if (arg == "--config" && i + 1 < argc) {
      std::string kv = argv[++i];
      std::size_t eq = kv.find('=');
      if (eq == std::string::npos || !set_config_value(kv.substr(0, eq), kv.substr(eq + 1))) {
        std::fprintf(stderr, "%s: bad configuration value: %s\n", tool.c_str(), kv.c_str());
        return 2;
      }
    } else if (file.empty() && !arg.empty() && arg[0] != '-') {
      file = arg;
    } else {
      std::fprintf(stderr, "usage: talven %s %s\n", tool.c_str(),
                   kTools[tool == "check" ? 0 : 1].usage);
      return 2;
    }
  }
  if (file.empty()) {
    std::fprintf(stderr, "usage: talven %s %s\n", tool.c_str(),
                 kTools[tool == "check" ? 0 : 1].usage);
    return 2;
  }
  std::size_t slash = file.find_last_of("/\\");
  CompileOptions options;
  options.loader = tool_loader;
  options.probe = tool_probe;
  options.script_dir = slash == std::string::npos ? std::string() : file.substr(0, slash + 1);
  options.show_messages = false;
  options.always_record = true;
  options.include_dirs = include_dirs;
  std::string name = slash == std::string::npos ? file : file.substr(slash + 1);

  CompileResult measured = compile_script(name, 0, 0, options);
  if (!measured.ok || tool == "check") {
    // The measuring pass runs every step of the compilation and gathers the
    // same diagnostics and sizes as a compilation into an area: check needs
    // nothing more, so it does not compile a second time.
    print_diagnostics(measured);
    if (!measured.ok) {
      std::printf("%s: failed\n", file.c_str());
      return 1;
    }
    std::printf("%s: ok (code %u bytes, data %u bytes)\n", file.c_str(), measured.code_size,
                measured.data_size);
    return 0;
  }
  std::uint32_t size = measured.code_size + measured.data_size;
  std::unique_ptr<VmContext, VmDeleter> ctx(vm_create(static_cast<std::int32_t>(size), 4096));
  if (!ctx) {
    std::fprintf(stderr, "%s: no memory for a program area of %u bytes\n", tool.c_str(), size);
    return 1;
  }
  CompileResult r = compile_script(name, ctx->program, size, options);
  print_diagnostics(r);
  if (!r.ok) {
    std::printf("%s: failed\n", file.c_str());
    return 1;
  }
  // The area is only valid where it was compiled; addresses are printed as
  // they are.
  std::printf("; %s: code %u bytes at %08X, data %u bytes at %08X\n", file.c_str(), r.code_size,
              ctx->program, r.data_size, ctx->program + r.code_size);
  std::fputs(disassemble_with_names(ctx->program, r.code_size).c_str(), stdout);
  if (r.data_size > 0) {
    std::printf("; data\n");
    print_data(ctx->program + r.code_size, r.data_size);
  }
  return 0;
}

}  // namespace talven::script
