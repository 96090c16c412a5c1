#include "storage/file_builtins.h"

#include <algorithm>
#include <cstring>
#include <filesystem>

#include "base/atomic_file.h"
#include "base/game_path.h"
#include "base/host_file.h"
#include "storage/compressed.h"
#include "storage/file_layer.h"

namespace talven::storage {

namespace {

ExpFile* pack_table[kPackHandles] = {};

struct Stream {
  std::FILE* file = nullptr;
  bool text = false;  // CR LF on disk is LF to the script
};
Stream stream_table[kStreamHandles];

struct SystemFileBinding {
  bool bound = false;
  std::string path;
  Addr block = kNullAddr;
  std::uint32_t size = 0;
};
SystemFileBinding system_file;

// A 64-bit position or count as the 32-bit result word (low half).
std::int32_t low_word(std::int64_t v) { return static_cast<std::int32_t>(v); }

ExpFile* pack_file(int handle) {
  if (handle < 1 || handle > kPackHandles) return nullptr;
  return pack_table[handle - 1];
}

void forget_directory_of(const std::string& host_path) {
  invalidate_path_cache(host_file::from_fs_path(host_file::fs_path(host_path).parent_path()));
}

// Reads up to size bytes of a host file into script memory; false when the
// file cannot be opened.
bool load_host_file(const std::string& game_path, Addr block, std::uint32_t size) {
  auto host = resolve_game_path(game_path);
  if (!host) return false;
  std::FILE* f = host_file::open_stdio(*host, "rb");
  if (!f) return false;
  std::uint8_t* p = wspan(block, size);
  if (p) std::fread(p, size, 1, f);
  std::fclose(f);
  return p != nullptr;
}

bool save_binding(const SystemFileBinding& b) {
  const std::uint8_t* p = span(b.block, b.size);
  if (!p) return false;
  std::string host = host_path_for_write(b.path);
  if (host.empty()) return false;
  bool ok = write_file_atomic(host, std::string_view(reinterpret_cast<const char*>(p), b.size));
  forget_directory_of(host);
  return ok;
}

}  // namespace

// ---- pack handles ------------------------------------------------------------------

int pack_open(std::string_view path) {
  auto slot = std::find(std::begin(pack_table), std::end(pack_table), nullptr);
  if (slot == std::end(pack_table)) return 0;
  ExpFile* f = OpenExpFile(path);
  if (!f) return 0;
  *slot = f;
  return static_cast<int>(slot - std::begin(pack_table)) + 1;
}

int pack_close(int handle) {
  if (handle < 1 || handle > kPackHandles) return 0;
  CloseExpFile(pack_table[handle - 1]);
  pack_table[handle - 1] = nullptr;
  return 1;
}

std::int64_t pack_read(int handle, void* buffer, std::size_t count) {
  ExpFile* f = pack_file(handle);
  if (!f) return -1;
  std::size_t got = 0;
  if (count > 0 && !ReadExpFile(f, buffer, count, &got)) return -1;
  return static_cast<std::int64_t>(got);
}

std::int64_t pack_seek(int handle, std::int64_t offset, int origin) {
  ExpFile* f = pack_file(handle);
  if (!f) return -1;
  return SeekExpFile(f, offset, origin);
}

std::int64_t pack_size(int handle) {
  ExpFile* f = pack_file(handle);
  return f ? GetExpFileSize(f) : -1;
}

Addr mload(std::string_view path, std::int32_t offset, std::int32_t size) {
  ExpFilePtr f(OpenExpFile(path));
  if (!f) return kNullAddr;
  std::int64_t bytes = size > 0 ? size : GetExpFileSize(f.get());
  if (bytes < 0 || bytes > 0xFFFFFFFFll) return kNullAddr;
  const std::uint32_t n = static_cast<std::uint32_t>(bytes);
  Addr block = script_alloc(n);
  if (block == kNullAddr) return kNullAddr;
  std::uint8_t* p = span(block, n);
  std::size_t got = 0;
  // A seek past the end loads nothing rather than the wrong bytes.
  if (n > 0 && (offset <= 0 || SeekExpFile(f.get(), offset, kSeekSet) == offset)) {
    if (!ReadExpFile(f.get(), p, n, &got)) got = 0;
  }
  // What the file did not cover is zeroed, so results never depend on
  // earlier heap contents.
  std::memset(p + got, 0, n - got);
  return block;
}

// ---- streams --------------------------------------------------------------------------

namespace {

Stream* stream_at(int handle) {
  if (handle < 1 || handle > kStreamHandles || !stream_table[handle - 1].file) return nullptr;
  return &stream_table[handle - 1];
}

// The next byte of a text stream: CR LF reads as LF, and Ctrl-Z ends the
// text (it stays unread, so later reads end there too).
int text_getc(std::FILE* f) {
  int c = std::getc(f);
  if (c == '\r') {
    int next = std::getc(f);
    if (next == '\n') return '\n';
    if (next != EOF) std::ungetc(next, f);
  } else if (c == 0x1A) {
    std::ungetc(c, f);
    return EOF;
  }
  return c;
}

// Writes bytes, LF as CR LF on a text stream; the number of input bytes
// written.
std::size_t put_bytes(Stream& s, const char* p, std::size_t n) {
  if (!s.text) return std::fwrite(p, 1, n, s.file);
  std::size_t done = 0;
  while (done < n) {
    const char* lf = static_cast<const char*>(std::memchr(p + done, '\n', n - done));
    std::size_t run = lf ? static_cast<std::size_t>(lf - (p + done)) : n - done;
    if (std::fwrite(p + done, 1, run, s.file) != run) break;
    done += run;
    if (!lf) break;
    if (std::fwrite("\r\n", 1, 2, s.file) != 2) break;
    ++done;
  }
  return done;
}

}  // namespace

std::string stream_mode(std::string_view mode, bool* text) {
  if (mode.empty() || (mode[0] != 'r' && mode[0] != 'w' && mode[0] != 'a')) return {};
  std::string out(1, mode[0]);
  bool plus = false, binary = false, explicit_text = false;
  for (char c : mode.substr(1)) {
    if (c == '+' && !plus) {
      plus = true;
    } else if (c == 'b' && !binary) {
      binary = true;
    } else if (c == 't' && !explicit_text) {
      explicit_text = true;
    } else if (c == '\0' || std::strchr("cnNSRTD", c) == nullptr) {
      return {};  // not a C-library mode character
    }
  }
  if (binary && explicit_text) return {};
  if (text) *text = !binary;
  if (plus) out += '+';
  out += 'b';
  return out;
}

int stream_open(std::string_view path, std::string_view mode_text) {
  bool text = false;
  std::string mode = stream_mode(mode_text, &text);
  if (mode.empty()) return 0;
  auto slot = std::find_if(std::begin(stream_table), std::end(stream_table),
                           [](const Stream& s) { return s.file == nullptr; });
  if (slot == std::end(stream_table)) return 0;
  const bool creates = mode[0] != 'r';
  std::string host;
  if (creates) {
    host = host_path_for_write(path);
  } else if (auto found = resolve_game_path(path)) {
    host = *found;
  }
  if (host.empty()) return 0;
  std::FILE* f = host_file::open_stdio(host, mode.c_str());
  if (!f) return 0;
  if (creates) forget_directory_of(host);
  *slot = Stream{f, text};
  return static_cast<int>(slot - std::begin(stream_table)) + 1;
}

int stream_close(int handle) {
  Stream* s = stream_at(handle);
  if (!s) return -1;
  std::FILE* f = s->file;
  *s = Stream{};
  return std::fclose(f) == 0 ? 0 : -1;
}

std::size_t stream_read(int handle, void* buffer, std::size_t size, std::size_t count) {
  Stream* s = stream_at(handle);
  if (!s || size == 0 || count == 0) return 0;
  if (!s->text) return std::fread(buffer, size, count, s->file);
  char* p = static_cast<char*>(buffer);
  const std::size_t total = size * count;
  std::size_t got = 0;
  for (int c; got < total && (c = text_getc(s->file)) != EOF;) p[got++] = static_cast<char>(c);
  return got / size;
}

std::size_t stream_write(int handle, const void* data, std::size_t size, std::size_t count) {
  Stream* s = stream_at(handle);
  if (!s || size == 0 || count == 0) return 0;
  return put_bytes(*s, static_cast<const char*>(data), size * count) / size;
}

bool stream_gets(int handle, char* buffer, int size) {
  Stream* s = stream_at(handle);
  if (!s || size <= 0) return false;
  if (!s->text) return std::fgets(buffer, size, s->file) != nullptr;
  int n = 0;
  for (int c; n < size - 1 && (c = text_getc(s->file)) != EOF;) {
    buffer[n++] = static_cast<char>(c);
    if (c == '\n') break;
  }
  if (n == 0 && size > 1) return false;
  buffer[n] = '\0';
  return true;
}

int stream_puts(int handle, std::string_view text) {
  Stream* s = stream_at(handle);
  if (!s) return -1;
  return put_bytes(*s, text.data(), text.size()) == text.size() ? 0 : -1;
}

std::int64_t stream_tell(int handle) {
  Stream* s = stream_at(handle);
  return s ? std::ftell(s->file) : -1;
}

int stream_seek(int handle, std::int64_t offset, int origin) {
  Stream* s = stream_at(handle);
  if (!s || (origin != SEEK_SET && origin != SEEK_CUR && origin != SEEK_END)) return -1;
  return std::fseek(s->file, static_cast<long>(offset), origin) == 0 ? 0 : -1;
}

// ---- system file ------------------------------------------------------------------------

int sysfile(std::string_view path, Addr block, std::uint32_t size) {
  if (path.empty() || block == kNullAddr || size == 0) return 0;
  // A longer path is refused rather than cut, which would bind another file.
  if (path.size() > kMaxSystemFilePath || !valid_range(block, size)) return 0;
  system_file = SystemFileBinding{true, std::string(path), block, size};
  return load_host_file(system_file.path, block, size) ? 1 : 0;
}

int sysio(int direction) {
  if (!system_file.bound) return 0;
  if (direction != 0) return save_binding(system_file) ? 1 : 0;
  return load_host_file(system_file.path, system_file.block, system_file.size) ? 1 : 0;
}

void save_system_file_at_shutdown() {
  if (system_file.bound) save_binding(system_file);
  system_file = SystemFileBinding{};
}

void close_file_handles() {
  for (int h = 1; h <= kPackHandles; ++h) pack_close(h);
  for (int h = 1; h <= kStreamHandles; ++h) stream_close(h);
}

// ---- builtin handlers ------------------------------------------------------------------

bool bi_pack_save(Addr path_a, Addr data, std::int32_t size) {
  auto path = cstr(path_a);
  if (!path) return false;
  // No data: the file gets its two header fields alone and the result is 0.
  if (data == kNullAddr || size <= 0) {
    save_compressed(*path, nullptr, size > 0 ? static_cast<std::size_t>(size) : 0);
    return false;
  }
  const std::uint8_t* p = span(data, static_cast<std::uint32_t>(size));
  if (!p) return false;
  return save_compressed(*path, p, static_cast<std::size_t>(size));
}

std::int32_t bi_pack_open(Addr path_a) {
  auto path = cstr(path_a);
  return path ? pack_open(*path) : 0;
}

std::int32_t bi_pack_close(std::int32_t handle) { return pack_close(handle); }

std::int32_t bi_pack_read(std::int32_t handle, Addr buffer, std::uint32_t count) {
  if (!pack_file(handle)) return -1;
  std::uint8_t* p = count ? wspan(buffer, count) : nullptr;
  if (count && !p) return -1;
  return low_word(pack_read(handle, p, count));
}

std::int32_t bi_pack_seek(std::int32_t handle, std::int32_t offset, std::int32_t origin) {
  return low_word(pack_seek(handle, offset, origin));
}

std::int32_t bi_pack_size(std::int32_t handle) { return low_word(pack_size(handle)); }

Addr bi_mload(Addr path_a, std::int32_t offset, std::int32_t size) {
  auto path = cstr(path_a);
  return path ? mload(*path, offset, size) : 0;
}

std::int32_t bi_fopen(Addr path_a, Addr mode_a) {
  auto path = cstr(path_a);
  auto mode = cstr(mode_a);
  if (!path || !mode) return 0;
  return stream_open(*path, *mode);
}

std::int32_t bi_fclose(std::int32_t handle) { return stream_close(handle); }

namespace {

// The buffer of fread/fwrite: item size times count bytes of script memory
// (`written` for fread, which fills it).
std::uint8_t* item_buffer(Addr buffer, std::uint32_t size, std::uint32_t count, bool written) {
  std::uint64_t total = std::uint64_t{size} * count;
  if (total == 0) return nullptr;
  return written ? wspan(buffer, total) : span(buffer, total);
}

}  // namespace

std::uint32_t bi_fread(Addr buffer, std::uint32_t size, std::uint32_t count, std::int32_t handle) {
  std::uint8_t* p = item_buffer(buffer, size, count, true);
  if (!p) return 0;
  return static_cast<std::uint32_t>(stream_read(handle, p, size, count));
}

std::uint32_t bi_fwrite(Addr buffer, std::uint32_t size, std::uint32_t count, std::int32_t handle) {
  std::uint8_t* p = item_buffer(buffer, size, count, false);
  if (!p) return 0;
  return static_cast<std::uint32_t>(stream_write(handle, p, size, count));
}

std::int32_t bi_fseek(std::int32_t handle, std::int32_t offset, std::int32_t origin) {
  return stream_seek(handle, offset, origin);
}

std::int32_t bi_ftell(std::int32_t handle) {
  std::int64_t pos = stream_tell(handle);
  return pos < 0 || pos > 0x7FFFFFFF ? -1 : static_cast<std::int32_t>(pos);
}

Addr bi_fgets(Addr buffer, std::int32_t size, std::int32_t handle) {
  if (size <= 0) return 0;
  char* p = reinterpret_cast<char*>(wspan(buffer, static_cast<std::uint32_t>(size)));
  if (!p) return 0;
  return stream_gets(handle, p, size) ? buffer : 0;
}

std::int32_t bi_fputs(Addr text_a, std::int32_t handle) {
  auto text = cstr(text_a);
  if (!text) return -1;
  return stream_puts(handle, *text);
}

std::int32_t bi_sysfile(Addr path, Addr block, std::uint32_t size) {
  if (path == kNullAddr) return 0;
  auto text = cstr(path);
  return text ? sysfile(*text, block, size) : 0;
}

std::int32_t bi_sysio(std::int32_t direction) { return sysio(direction); }

}  // namespace talven::storage
