// Helpers for the compiler tests: sources from memory, compiling into a
// fresh context the way the loader does (measure, create, compile), and
// running a compiled program in the interpreter.
#pragma once

#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "base/address_space.h"
#include "script/compiler.h"
#include "script/disasm.h"
#include "script/opcodes.h"
#include "script/vm.h"

namespace talven::script::test {

// Named sources kept in memory; a name that is not there cannot be opened.
struct Sources {
  std::map<std::string, std::string> files;
  std::vector<std::string> opened;  // paths in the order they were loaded

  SourceLoader loader() {
    return [this](const std::string& path, std::string& text) {
      opened.push_back(path);
      auto it = files.find(path);
      if (it == files.end()) return 2;
      text = it->second;
      return 0;
    };
  }
};

struct VmDeleter {
  void operator()(VmContext* c) const { vm_free(c); }
};
using VmPtr = std::unique_ptr<VmContext, VmDeleter>;

inline SharedHeap test_heap() {
  static SharedHeap heap{script_zalloc(4096), 4096};
  return heap;
}

inline CompileOptions options_for(Sources& src) {
  CompileOptions o;
  o.loader = src.loader();
  o.script_dir = "";
  o.show_messages = false;
  o.always_record = true;
  o.heap = test_heap();
  return o;
}

struct Compiled {
  CompileResult measured;
  CompileResult result;
  VmPtr ctx;

  bool ok() const { return result.ok; }
  Addr program() const { return ctx ? ctx->program : 0; }
  // The code bytes of the image.
  std::vector<std::uint8_t> code() const {
    std::vector<std::uint8_t> out(result.code_size);
    if (ctx) read_bytes(ctx->program, out.data(), result.code_size);
    return out;
  }
  std::string listing() const {
    return ctx ? disassemble_range(ctx->program, result.code_size) : std::string();
  }
};

// Measures, creates a context of exactly code + data bytes and compiles
// into it, as the loader does with ProgramSize 0.
inline Compiled compile_sources(Sources& src, const std::string& main = "main.c",
                                std::int32_t stack = 0x10000) {
  Compiled c;
  CompileOptions o = options_for(src);
  c.measured = compile_script(main, 0, 0, o);
  if (!c.measured.ok) {
    c.result = c.measured;
    return c;
  }
  std::uint32_t size = c.measured.code_size + c.measured.data_size;
  c.ctx.reset(vm_create(static_cast<std::int32_t>(size), stack));
  c.result = compile_script(main, c.ctx->program, size, o);
  return c;
}

inline Compiled compile_text(const std::string& text, std::int32_t stack = 0x10000) {
  Sources src;
  src.files["main.c"] = text;
  return compile_sources(src, "main.c", stack);
}

// Runs the context to its end (at most `slices` slices). Returns r0.
inline std::uint32_t run_to_end(VmContext* ctx, int slices = 2000000) {
  vm_stop_flag.clear();
  for (int i = 0; i < slices && ctx->state == kVmRunning && !vm_stop_flag.is_set(); ++i)
    vm_run(ctx);
  return ctx->r[0];
}

// Value of a 32-bit word of script memory.
inline std::uint32_t word_at(Addr a) {
  std::uint32_t v = 0;
  load32(a, v);
  return v;
}

}  // namespace talven::script::test
