#include "storage/storage_tools.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <new>
#include <random>
#include <string>
#include <vector>

#include "base/atomic_file.h"
#include "base/host_file.h"
#include "base/cp932.h"
#include "storage/archive.h"
#include "storage/compressed.h"
#include "storage/output_file.h"

namespace talven::storage {

namespace {

namespace fs = std::filesystem;

// Buffer size for copying entry data out of an archive.
constexpr std::size_t kCopyChunk = 1 << 16;

constexpr StorageTool kTools[] = {
    {"pack", "DIR ARCHIVE [--seed N] [--backslash]",
     "pack the files below DIR into a directory archive (entry names use '/', or '\\' with "
     "--backslash)"},
    {"unpack", "ARCHIVE DIR", "write the files of a directory archive below DIR"},
    {"list", "ARCHIVE", "list the entries of a directory archive (size, name)"},
    {"compress", "IN OUT", "write IN in the compressed data form ('-' is standard input/output)"},
    {"expand", "IN OUT",
     "decode a file in the compressed data form ('-' is standard input/output)"},
};

int usage(const StorageTool& tool) {
  std::fprintf(stderr, "usage: talven %s %s\n", tool.name, tool.usage);
  return 2;
}

int failure(const char* tool, const std::string& why) {
  std::fprintf(stderr, "talven %s: %s\n", tool, why.c_str());
  return 1;
}

// A host file name as a CP932 entry name: UTF-8 names are converted, names
// that are not UTF-8 are taken to be CP932 bytes already (files copied from
// a Windows disk keep their bytes).
std::optional<std::string> entry_name_for(const std::string& host_name) {
  if (!cp932::is_valid_utf8(host_name)) return host_name;
  return cp932::from_utf8(host_name);
}

// The host path below `root` for an entry name, or nullopt when the name
// would leave `root` (absolute, empty, "." or ".." components).
std::optional<fs::path> host_path_for_entry(const fs::path& root, std::string_view name) {
  fs::path out = root;
  std::size_t start = 0;
  auto add = [&](std::size_t end) {
    std::string_view part = name.substr(start, end - start);
    if (part.empty() || part == "." || part == "..") return false;
    std::optional<std::string> utf8 = cp932::to_utf8(part);
    std::string host = utf8 ? *utf8 : std::string(part);
    // A lead byte may swallow a '/' that the host would still split on.
    if (host.find_first_of(std::string_view("/\0", 2)) != std::string::npos || host == "." ||
        host == "..")
      return false;
    out /= host_file::fs_path(host);
    return true;
  };
  for (std::size_t i = 0; i < name.size(); i = cp932::next(name, i)) {
    if (name[i] == '/' || name[i] == '\\') {
      if (!add(i)) return std::nullopt;
      start = i + 1;
    }
  }
  if (!add(name.size())) return std::nullopt;
  return out;
}

int run_pack(int argc, char** argv) {
  const StorageTool& tool = kTools[0];
  std::vector<std::string> positional;
  std::uint32_t seed = std::random_device{}();
  bool backslash = false;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--seed" && i + 1 < argc) {
      char* end = nullptr;
      errno = 0;
      unsigned long long v = std::strtoull(argv[++i], &end, 0);
      if (errno || !end || *end || v > 0xFFFFFFFFull) return usage(tool);
      seed = static_cast<std::uint32_t>(v);
    } else if (arg == "--backslash") {
      backslash = true;
    } else if (arg.size() > 1 && arg[0] == '-') {
      return usage(tool);
    } else {
      positional.push_back(arg);
    }
  }
  if (positional.size() != 2) return usage(tool);
  const fs::path root = host_file::fs_path(positional[0]);
  const std::string archive = positional[1];

  std::error_code ec;
  if (!fs::is_directory(root, ec)) return failure(tool.name, positional[0] + " is not a directory");
  const fs::path archive_abs = fs::weakly_canonical(host_file::fs_path(archive), ec);
  std::vector<ArchiveSource> sources;
  fs::recursive_directory_iterator it(root, ec), end;
  if (ec) return failure(tool.name, "cannot read " + positional[0] + ": " + ec.message());
  for (; it != end; it.increment(ec)) {
    if (ec) return failure(tool.name, "cannot read " + positional[0] + ": " + ec.message());
    if (!it->is_regular_file(ec)) continue;
    if (fs::weakly_canonical(it->path(), ec) == archive_abs) continue;
    std::string relative = host_file::from_fs_path(it->path().lexically_relative(root));
    std::optional<std::string> name = entry_name_for(relative);
    if (!name) return failure(tool.name, relative + ": the name has no CP932 form");
    if (backslash)
      for (char& c : *name)
        if (c == '/') c = '\\';
    sources.push_back({*name, host_file::from_fs_path(it->path())});
  }
  std::string error;
  const std::size_t count = sources.size();
  if (!write_archive(archive, std::move(sources), seed, &error)) return failure(tool.name, error);
  std::fprintf(stderr, "talven pack: %zu files into %s\n", count, archive.c_str());
  return 0;
}

// Opens an archive for list and unpack.
bool open_archive(const char* tool, const std::string& path, int& fd, ArchiveDirectory& dir) {
  fd = host_file::open_read(path);
  if (fd < 0) {
    failure(tool, "cannot open " + path + ": " + std::strerror(errno));
    return false;
  }
  switch (read_archive_directory(fd, dir)) {
    case ArchiveStatus::kOk: return true;
    case ArchiveStatus::kBadHeader: failure(tool, path + " is not a directory archive"); break;
    case ArchiveStatus::kNoMemory: failure(tool, "out of memory reading " + path); break;
    case ArchiveStatus::kDamaged:
      failure(tool, path + " is damaged (directory outside the file)");
      break;
  }
  host_file::close(fd);
  return false;
}

int run_list(int argc, char** argv) {
  const StorageTool& tool = kTools[2];
  if (argc != 2) return usage(tool);
  int fd;
  ArchiveDirectory dir;
  if (!open_archive(tool.name, argv[1], fd, dir)) return 1;
  host_file::close(fd);
  int status = 0;
  for (std::uint32_t i = 0; i < dir.count; ++i) {
    std::optional<std::string_view> name = dir.name(i);
    const char* note = !name                  ? "  (damaged name)"
                       : !dir.data_in_file(i) ? "  (data outside the file)"
                                              : "";
    if (*note) status = 1;
    std::printf("%10u  %s%s\n", dir.entries[i].data_size,
                name ? cp932::to_utf8_lossy(*name).c_str() : "?", note);
  }
  return status;
}

int run_unpack(int argc, char** argv) {
  const StorageTool& tool = kTools[1];
  if (argc != 3) return usage(tool);
  int fd;
  ArchiveDirectory dir;
  if (!open_archive(tool.name, argv[1], fd, dir)) return 1;
  const fs::path root = host_file::fs_path(argv[2]);
  int status = 0;
  // Entries are copied through one fixed buffer, so memory stays bounded
  // whatever their sizes.
  std::unique_ptr<char[]> chunk(new char[kCopyChunk]);
  for (std::uint32_t i = 0; i < dir.count; ++i) {
    std::optional<std::string_view> name = dir.name(i);
    std::optional<fs::path> target = name ? host_path_for_entry(root, *name) : std::nullopt;
    if (!target) {
      status =
          failure(tool.name, "entry " + std::to_string(i) + ": unsafe or damaged name, skipped");
      continue;
    }
    if (!dir.data_in_file(i)) {
      status = failure(tool.name,
                       host_file::from_fs_path(*target) + ": data outside the archive, skipped");
      continue;
    }
    std::error_code ec;
    fs::create_directories(target->parent_path(), ec);
    AtomicOutput out;
    if (!out.open(host_file::from_fs_path(*target))) {
      status = failure(tool.name, "cannot create " + host_file::from_fs_path(*target) + ": " +
                                      std::strerror(errno));
      continue;
    }
    const std::uint64_t size = dir.entries[i].data_size;
    const std::uint64_t start = dir.entries[i].data_offset;
    std::uint64_t done = 0;
    bool write_failed = false;
    while (done < size) {
      const std::size_t want =
          static_cast<std::size_t>(std::min<std::uint64_t>(size - done, kCopyChunk));
      const std::int64_t n = host_file::read_at(fd, chunk.get(), want, start + done);
      if (n <= 0) break;
      if (!out.write(chunk.get(), static_cast<std::size_t>(n))) {
        write_failed = true;
        break;
      }
      done += static_cast<std::uint64_t>(n);
    }
    if (write_failed) {
      out.abandon();
      status = failure(tool.name, "cannot write " + host_file::from_fs_path(*target));
    } else if (done != size) {
      out.abandon();
      status = failure(tool.name, "cannot read the data of " + host_file::from_fs_path(*target));
    } else if (!out.commit()) {
      status = failure(tool.name, "cannot write " + host_file::from_fs_path(*target) + ": " +
                                      std::strerror(errno));
    }
  }
  host_file::close(fd);
  return status;
}

// Reads all of fd into `out`, a few bytes at a time (retrying interrupted
// reads); 0 at the end or on an error (*failed then set).
std::size_t read_some(int fd, std::uint8_t* out, std::size_t n, bool* failed) {
  std::size_t got = 0;
  while (got < n) {
    const std::int64_t r = host_file::read(fd, out + got, n - got);
    if (r < 0) {
      *failed = true;
      break;
    }
    if (r == 0) break;
    got += static_cast<std::size_t>(r);
  }
  return got;
}

// The input of compress/expand as a file descriptor, with its size when it
// is a regular file. Standard input that is not a file is copied into an
// unnamed temporary file first when `need_size` (the compressed form starts
// with the length), so memory stays bounded whatever comes in.
struct ToolInput {
  int fd = -1;
  bool own = false;
  std::int64_t size = -1;
  ~ToolInput() {
    if (own && fd >= 0) host_file::close(fd);
  }
};

bool open_tool_input(const std::string& path, bool need_size, ToolInput& in) {
  if (path == "-") {
    in.fd = 0;
  } else {
    in.fd = host_file::open_read(path);
    if (in.fd < 0) return false;
    in.own = true;
  }
  host_file::Info st;
  if (host_file::info_of(in.fd, st) && st.regular) {
    in.size = static_cast<std::int64_t>(st.size);
    return true;
  }
  if (!need_size) return true;
  const int copy = host_file::open_spool();
  if (copy < 0) return false;
  std::vector<std::uint8_t> buf(1 << 16);
  bool failed = false;
  std::int64_t total = 0;
  for (std::size_t n; (n = read_some(in.fd, buf.data(), buf.size(), &failed)) > 0;) {
    if (!host_file::write_all(copy, buf.data(), n)) failed = true;
    total += static_cast<std::int64_t>(n);
    if (failed) break;
  }
  if (in.own) host_file::close(in.fd);
  in.fd = copy;
  in.own = true;
  in.size = total;
  return !failed && host_file::seek(copy, 0, SEEK_SET) == 0;
}

// compress and expand read and write in pieces of this size rather than
// the bit streams' own small ones: a quarter of the system calls, in
// bounded memory.
constexpr std::size_t kToolPiece = 1 << 18;

// The output: an atomic file (committed only when everything was written)
// or standard output, written in pieces of kToolPiece.
struct ToolOutput {
  AtomicOutput file;
  bool to_stdout = false;
  std::vector<std::uint8_t> pending;
  bool put(const std::uint8_t* p, std::size_t n) {
    return to_stdout ? host_file::write_all(1, p, n) : file.write(p, n);
  }
  bool write(const std::uint8_t* p, std::size_t n) {
    if (pending.size() + n > kToolPiece) {
      if (!flush()) return false;
      if (n >= kToolPiece) return put(p, n);
    }
    pending.insert(pending.end(), p, p + n);
    return true;
  }
  bool flush() {
    const bool ok = pending.empty() || put(pending.data(), pending.size());
    pending.clear();
    return ok;
  }
};

// The input, read ahead in pieces of kToolPiece.
struct ToolReader {
  int fd;
  bool* failed;
  std::vector<std::uint8_t> piece = std::vector<std::uint8_t>(kToolPiece);
  std::size_t at = 0, valid = 0;
  std::size_t read(std::uint8_t* p, std::size_t n) {
    if (at == valid) {
      valid = read_some(fd, piece.data(), piece.size(), failed);
      at = 0;
      if (valid == 0) return 0;
    }
    const std::size_t k = std::min(n, valid - at);
    std::memcpy(p, piece.data() + at, k);
    at += k;
    return k;
  }
};

int run_compress(int argc, char** argv, bool expand) {
  const StorageTool& tool = kTools[expand ? 4 : 3];
  if (argc != 3) return usage(tool);
  const std::string input_path = argv[1], output_path = argv[2];
  ToolInput in;
  if (!open_tool_input(input_path, !expand, in))
    return failure(tool.name, "cannot read " + input_path);
  ToolOutput out;
  out.to_stdout = output_path == "-";
  if (!out.to_stdout && !out.file.open(output_path))
    return failure(tool.name, "cannot create " + output_path);
  auto writer =
      create_sink_bit_writer([&](const std::uint8_t* p, std::size_t n) { return out.write(p, n); });
  bool read_failed = false;
  ToolReader ahead{in.fd, &read_failed};
  auto reader =
      open_source_bit_reader([&](std::uint8_t* p, std::size_t n) { return ahead.read(p, n); });
  if (!writer || !reader) return failure(tool.name, "out of memory");
  std::string why;
  if (expand) {
    std::uint32_t signature = 0, length = 0;
    std::uint64_t decoded = 0;
    bool ok = read_bits(*reader, 32, signature) && signature == kCompressedSignature &&
              read_bits(*reader, 32, length) && length <= kMaxDecodedLength &&
              decode_to(
                  *reader, length,
                  [&](const std::uint8_t* p, std::size_t n) { return out.write(p, n); }, &decoded);
    // A stream that stops early is complete: the rest of its length is
    // written as zeros, a piece at a time.
    std::vector<std::uint8_t> zeros(ok && decoded < length ? 1 << 16 : 0, 0);
    for (std::uint64_t left = length - decoded; ok && left > 0;) {
      const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(left, zeros.size()));
      ok = out.write(zeros.data(), n);
      left -= n;
    }
    if (!ok) why = input_path + " is not in the compressed form, or is damaged";
  } else {
    if (in.size > static_cast<std::int64_t>(kMaxDecodedLength)) {
      why = input_path + " is too large (2 GiB at most)";
    } else {
      StreamEncoder encoder(*writer);
      bool ok = write_bits(*writer, kCompressedSignature, 32) &&
                write_bits(*writer, static_cast<std::uint32_t>(in.size), 32);
      std::vector<std::uint8_t> buf(kToolPiece);
      std::uint64_t total = 0;
      for (std::size_t n; ok && (n = ahead.read(buf.data(), buf.size())) > 0;) {
        ok = encoder.feed(buf.data(), n);
        total += n;
      }
      ok = ok && !read_failed && total == static_cast<std::uint64_t>(in.size) && encoder.finish();
      if (!ok)
        why = read_failed || total != static_cast<std::uint64_t>(in.size)
                  ? "cannot read " + input_path
                  : "cannot write " + output_path;
    }
  }
  if (read_failed && why.empty()) why = "cannot read " + input_path;
  const bool closed = close_bit_writer(*writer) && out.flush();
  if (!why.empty() || !closed) {
    out.file.abandon();
    return failure(tool.name, why.empty() ? "cannot write " + output_path : why);
  }
  if (!out.to_stdout && !out.file.commit())
    return failure(tool.name, "cannot write " + output_path);
  return 0;
}

}  // namespace

std::span<const StorageTool> storage_tools() { return kTools; }

bool is_storage_tool(std::string_view name) {
  for (const StorageTool& t : kTools)
    if (name == t.name) return true;
  return false;
}

int run_storage_tool(int argc, char** argv) {
  if (argc < 1) return 2;
  std::string_view name = argv[0];
  try {
    if (name == "pack") return run_pack(argc, argv);
    if (name == "unpack") return run_unpack(argc, argv);
    if (name == "list") return run_list(argc, argv);
    if (name == "compress") return run_compress(argc, argv, false);
    if (name == "expand") return run_compress(argc, argv, true);
  } catch (const std::bad_alloc&) {
    return failure(argv[0], "out of memory");
  } catch (const std::filesystem::filesystem_error& e) {
    return failure(argv[0], e.what());
  }
  std::fprintf(stderr, "talven: unknown tool %s\n", argv[0]);
  return 2;
}

}  // namespace talven::storage
