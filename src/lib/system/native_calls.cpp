#include "lib/system/native_calls.h"

#include <ffi.h>

#include <array>
#include <string>
#include <vector>

#include "base/address_space.h"
#include "base/config.h"
#include "base/cp932.h"
#include "base/game_path.h"
#include "lib/system/native_api.h"
#include "lib/system/native_library.h"
#include "lib/system/system_builtins.h"
#include "lib/system/system_paths.h"
#include "runtime/bind.h"
#include "runtime/trap.h"

namespace talven::lib::system {

namespace {

struct Module {
  void* handle = nullptr;
  std::uint64_t serial = 0;  // which load this slot holds
};

struct Proc {
  void* function;
  std::int32_t slot;
  std::uint64_t serial;
};

constexpr std::uint32_t kProcBase = 0x50000000u;  // handles kProcBase + 1 ...
constexpr std::size_t kMaxProcs = 1u << 20;

std::array<Module, kDllSlots> g_modules;
std::vector<Proc> g_procs;
std::uint64_t g_next_serial = 1;

// ---- the access functions handed to native libraries ----
void* api_span(std::uint32_t address, std::uint32_t length) { return span(address, length); }
char* api_string(std::uint32_t address, std::uint32_t max_length) {
  auto s = cstr(address, max_length);
  return s ? reinterpret_cast<char*>(span(address, s->size() + 1)) : nullptr;
}
std::uint32_t api_address_of(const void* p) { return script_space().address_of(p); }
std::uint32_t api_alloc(std::uint32_t size) { return script_alloc(size); }
int api_release(std::uint32_t address) { return script_free(address) ? 1 : 0; }

const NativeApi kApi = {kNativeApiVersion, api_span,  api_string,
                        api_address_of,    api_alloc, api_release};

void* load_candidates(std::string_view name) {
  std::string given = cp932::to_utf8_lossy(name);
  std::string folder, file = given;
  for (std::size_t i = 0; i < given.size(); ++i)
    if (given[i] == '/' || given[i] == '\\')
      folder = given.substr(0, i + 1), file = given.substr(i + 1);
  if (file.empty()) return nullptr;
  const std::vector<std::string> files = library_file_names(file);
  // Beside the game (or in the folder the name gives).
  const std::string base = folder.empty() ? config().module_dir : folder;
  for (const std::string& f : files) {
    std::string game_path =
        base.empty() ? f : base + (base.back() == '/' || base.back() == '\\' ? "" : "/") + f;
    auto host = resolve_game_path(game_path);
    if (!host) continue;
    if (void* h = open_native_library(*host)) return h;
  }
  if (!folder.empty()) return nullptr;
  // The system's library search.
  for (const std::string& f : files)
    if (void* h = open_native_library(f)) return h;
  return nullptr;
}

}  // namespace

std::optional<std::uint16_t> pe_machine(const std::uint8_t* data, std::size_t size) {
  auto u16 = [&](std::size_t at) {
    return static_cast<std::uint16_t>(data[at] | data[at + 1] << 8);
  };
  if (size < 0x40 || data[0] != 'M' || data[1] != 'Z') return std::nullopt;
  const std::size_t header = static_cast<std::size_t>(u16(0x3C)) | std::size_t(u16(0x3E)) << 16;
  // "PE\0\0", then the machine field.
  if (header > size || size - header < 6) return std::nullopt;
  if (data[header] != 'P' || data[header + 1] != 'E' || data[header + 2] || data[header + 3])
    return std::nullopt;
  return u16(header + 4);
}

const NativeApi& native_api() { return kApi; }

std::int32_t dll_load(std::string_view name) {
  int slot = -1;
  for (int i = 0; i < kDllSlots && slot < 0; ++i)
    if (!g_modules[static_cast<std::size_t>(i)].handle) slot = i;
  if (slot < 0 || name.empty()) return -1;
  void* h = load_candidates(name);
  if (!h) return -1;
  using Init = int (*)(const NativeApi*);
  if (auto init = reinterpret_cast<Init>(native_library_symbol(h, "talven_native_init"))) {
    if (!init(&kApi)) {
      close_native_library(h);
      return -1;
    }
  }
  g_modules[static_cast<std::size_t>(slot)] = {h, g_next_serial++};
  return slot;
}

bool dll_unload(std::int32_t slot) {
  if (slot < 0 || slot >= kDllSlots) return false;
  Module& m = g_modules[static_cast<std::size_t>(slot)];
  if (!m.handle) return false;
  close_native_library(m.handle);
  m = Module{};
  return true;
}

std::uint32_t dll_proc(std::int32_t slot, std::string_view name) {
  if (slot < 0 || slot >= kDllSlots || name.empty()) return 0;
  const Module& m = g_modules[static_cast<std::size_t>(slot)];
  if (!m.handle) return 0;
  std::string symbol(name);
  void* f = native_library_symbol(m.handle, symbol.c_str());
  if (!f) return 0;
  for (std::size_t i = 0; i < g_procs.size(); ++i)
    if (g_procs[i].function == f && g_procs[i].serial == m.serial)
      return kProcBase + static_cast<std::uint32_t>(i) + 1;
  if (g_procs.size() >= kMaxProcs) return 0;
  g_procs.push_back({f, slot, m.serial});
  return kProcBase + static_cast<std::uint32_t>(g_procs.size());
}

std::uint32_t dll_call(std::uint32_t function, const std::uint32_t* words, std::size_t count) {
  if (function <= kProcBase || count > kMaxCallWords) return 0;
  const std::size_t index = function - kProcBase - 1;
  if (index >= g_procs.size()) return 0;
  const Proc& p = g_procs[index];
  const Module& m = g_modules[static_cast<std::size_t>(p.slot)];
  if (!m.handle || m.serial != p.serial) return 0;  // its module was unloaded

  std::array<std::int32_t, kMaxCallWords> values;
  std::array<void*, kMaxCallWords> pointers;
  for (std::size_t i = 0; i < count; ++i) {
    values[i] = static_cast<std::int32_t>(words[i]);
    pointers[i] = &values[i];
  }
  // One call description per argument count, prepared on first use.
  static std::array<ffi_type*, kMaxCallWords> types;
  static std::array<ffi_cif, kMaxCallWords + 1> cifs;
  static std::array<bool, kMaxCallWords + 1> prepared{};
  // The host's C convention: System V on x86-64 POSIX, the Microsoft x64
  // convention on Windows.
  if (!prepared[count]) {
    types.fill(&ffi_type_sint32);
    if (ffi_prep_cif(&cifs[count], static_cast<ffi_abi>(native_call_abi()),
                     static_cast<unsigned>(count), &ffi_type_sint32, types.data()) != FFI_OK)
      return 0;
    prepared[count] = true;
  }
  ffi_arg result = 0;
  ffi_call(&cifs[count], FFI_FN(p.function), &result, pointers.data());
  return static_cast<std::uint32_t>(result);
}

void dll_release_all() {
  for (Module& m : g_modules) {
    if (m.handle) close_native_library(m.handle);
    m = Module{};
  }
  g_procs.clear();
}

}  // namespace talven::lib::system

namespace talven::lib {

std::int32_t bi_dll_load(Addr name_a) {
  auto name = system::path_arg(name_a);
  if (!name || name->empty()) return -1;
  if (!system::action_allowed("dll_load", *name)) return -1;
  return system::dll_load(*name);
}

bool bi_dll_unload(std::int32_t handle) { return system::dll_unload(handle); }

std::uint32_t bi_dll_proc(std::int32_t handle, Addr name_a) {
  if (name_a == kNullAddr) return 0;
  auto name = cstr(name_a, 4096);
  if (!name) return 0;
  return system::dll_proc(handle, *name);
}

// The words the caller pushed are counted from its stack adjustment; the
// first is the function, the rest its arguments.
std::uint32_t bi_dll_call(Addr args) {
  const runtime::VmContext* c = runtime::current_context;
  if (!c) return 0;
  const std::int32_t passed = runtime::passed_argument_count(*c);
  if (passed < 1) return 0;
  const std::uint32_t function = runtime::uarg(args, 0);
  if (function == 0) return 0;
  const std::size_t count = static_cast<std::size_t>(passed - 1);
  if (count > system::kMaxCallWords) return 0;
  std::uint32_t words[system::kMaxCallWords];
  if (count && !read_bytes(args + 4, words, static_cast<std::uint32_t>(4 * count))) return 0;
  return system::dll_call(function, words, count);
}

void native_release() { system::dll_release_all(); }

}  // namespace talven::lib
