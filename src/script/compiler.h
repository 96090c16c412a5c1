// The script compiler: C-like sources to program images for the interpreter.
//
//   CompileResult r = compile_script("main.c", ctx->program, ctx->program_size);
//
// compiles the file (read through the data file layer, `script_dir` in front
// of the name) straight into the program area at `program`: code from the
// area's start upward, data (strings, globals) from its end downward, every
// address absolute. With program == 0 the compiler only measures: it runs
// every step, writes nothing and reports the code and data sizes, so that a
// caller can create an area of exactly code + data bytes and compile again.
//
// Each call is one independent compilation object; compilations share only
// the process-wide export list (functions defined with `extern`, callable
// from later compilations) and the shared heap of `extern` variables.
//
// Errors are gathered in a message buffer (when the `Error` configuration
// value is on) and shown as one level-1 message at the end; standard error
// gets the same lines with an English gloss, and a fatal error's source line
// with a caret under the column where reading stood.
//
// A compilation into a real area also registers the area's line table
// (script/line_table.h), which names the file, line and function of any
// code address for run-time errors. The image itself is not changed by it.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/address_space.h"

namespace talven::script {

// Reads a whole source file. Returns 0 and fills `text`, or the compile
// error number: 1 (no memory), 2 (cannot open), 3 (cannot read).
using SourceLoader = std::function<int(const std::string& path, std::string& text)>;
// Whether a source exists, without any notice when it does not. Used where
// the compiler has a fallback of its own (the built-in "talven.h").
using SourceProbe = std::function<bool(const std::string& path)>;

// The loader of the runtime: the data file layer (loose files, archives,
// compressed files).
int load_source_file(const std::string& path, std::string& text);

// The shared heap of `extern` variables: one zero-filled block in the script
// address space that outlives every compilation. The runtime may install
// its own; otherwise it is allocated on first use with config().HeapSize.
struct SharedHeap {
  Addr base = 0;
  std::uint32_t size = 0;
};
SharedHeap shared_script_heap();
void set_shared_script_heap(SharedHeap heap);

struct CompileOptions {
  SourceLoader loader;  // empty: load_source_file
  SourceProbe probe;    // with a loader: how to look for "talven.h" quietly (empty: load it)
  std::optional<std::string> script_dir;  // empty: config().script_dir
  bool show_messages = true;              // report the buffer at the end
  bool always_record = false;             // record messages even with Error 0
  std::optional<SharedHeap> heap;         // empty: shared_script_heap()
  // Folders (host paths ending in '/') searched for a source that is not
  // found beside the script, in order.
  std::vector<std::string> include_dirs;
  bool builtin_sdk_header = true;  // "talven.h" falls back to the copy in the binary
};

// One line of the message buffer with where it came from (for tools).
struct CompileDiagnostic {
  std::string file;  // source path as opened (UTF-8), "" when unknown
  int line = 0;
  std::string text;    // the buffer's text for it (UTF-8)
  int error = -1;      // number of a fatal error, -1 for the other lines
  std::string gloss;   // English explanation
  std::string source;  // fatal errors: the source line, tabs expanded (UTF-8)
  int column = -1;     // fatal errors and warnings: screen column where reading stood
  bool warning = false;
};

struct CompileResult {
  bool ok = false;
  std::uint32_t code_size = 0;
  std::uint32_t data_size = 0;
  int error = -1;        // number of the fatal error, -1 when there was none
  std::string messages;  // the message buffer (UTF-8)
  std::vector<CompileDiagnostic> diagnostics;
  // Things that compile but are probably wrong (a call with the wrong number
  // of arguments, an integer constant for a float parameter). They are not
  // in the message buffer and never change the image or `ok`.
  std::vector<CompileDiagnostic> warnings;
};

CompileResult compile_script(std::string_view path, Addr program, std::uint32_t capacity,
                             const CompileOptions& options = {});

// The error messages by number (0..24), UTF-8.
const char* compile_error_message(int number);
// Their English glosses ("undefined name").
const char* compile_error_gloss(int number);

// The terminal form of a compilation's messages: the warnings, then every
// line of the buffer, each followed by its gloss in brackets; fatal errors
// and warnings add the source line and a caret. Each message's first line
// starts with `prefix`.
std::string terminal_report(const CompileResult& result, std::string_view prefix = "");

// Shows the buffer as one level-1 message (standard error gets the terminal
// form). A compilation with warnings only writes them to standard error (no
// message box); nothing at all when there is neither, or when Error is 0.
void show_compile_messages(const CompileResult& result);

// ---- export list ------------------------------------------------------------
//
// Functions defined with `extern` by successful compilations into a real
// area. Later compilations may call them without a declaration; calls are
// linked at the end of the compilation. Entries die with their program area:
// whoever frees an area calls forget_exports_in() for it, and a link also
// checks that the area still holds the function.

constexpr std::size_t kMaxExports = 1024;
constexpr std::size_t kMaxExportName = 31;

struct ExportedFunction {
  std::string name;
  std::uint8_t return_basic = 1;  // basic type of the result (1 int ... 7 float)
  std::uint8_t return_depth = 0;  // pointer levels above it
  Addr address = 0;               // code address
  Addr program = 0;               // area that holds it
  std::uint32_t capacity = 0;
};

std::optional<ExportedFunction> find_export(std::string_view name);
// Drops every entry whose code lies in [program, program + size).
void forget_exports_in(Addr program, std::uint32_t size);
void clear_exports();
std::size_t export_count();

}  // namespace talven::script
