#include "storage/storage_tools.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <new>
#include <random>
#include <string>
#include <vector>

#include "base/atomic_file.h"
#include "base/cp932.h"
#include "storage/archive.h"
#include "storage/compressed.h"

namespace talven::storage {

namespace {

namespace fs = std::filesystem;

constexpr StorageTool kTools[] = {
    {"pack", "DIR ARCHIVE [--seed N] [--backslash]",
     "pack the files below DIR into a directory archive (entry names use '/', or '\\' with --backslash)"},
    {"unpack", "ARCHIVE DIR", "write the files of a directory archive below DIR"},
    {"list", "ARCHIVE", "list the entries of a directory archive (size, name)"},
    {"compress", "IN OUT", "write IN in the compressed data form ('-' is standard input/output)"},
    {"expand", "IN OUT", "decode a file in the compressed data form ('-' is standard input/output)"},
};

int usage(const StorageTool& tool) {
  std::fprintf(stderr, "usage: talven %s %s\n", tool.name, tool.usage);
  return 2;
}

int failure(const char* tool, const std::string& why) {
  std::fprintf(stderr, "talven %s: %s\n", tool, why.c_str());
  return 1;
}

bool read_input(const std::string& path, std::string& out) {
  if (path != "-") return read_file(path, out);
  out.clear();
  char chunk[65536];
  for (;;) {
    ssize_t n = ::read(0, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) return true;
    out.append(chunk, static_cast<std::size_t>(n));
  }
}

bool write_output(const std::string& path, std::string_view data, std::string* error) {
  if (path != "-") return write_file_atomic(path, data, error);
  while (!data.empty()) {
    ssize_t n = ::write(1, data.data(), data.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (error) *error = std::string("cannot write standard output: ") + std::strerror(errno);
      return false;
    }
    data.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
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
    out /= host;
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
  const fs::path root = positional[0];
  const std::string archive = positional[1];

  std::error_code ec;
  if (!fs::is_directory(root, ec)) return failure(tool.name, positional[0] + " is not a directory");
  const fs::path archive_abs = fs::weakly_canonical(archive, ec);
  std::vector<ArchiveSource> sources;
  fs::recursive_directory_iterator it(root, ec), end;
  if (ec) return failure(tool.name, "cannot read " + positional[0] + ": " + ec.message());
  for (; it != end; it.increment(ec)) {
    if (ec) return failure(tool.name, "cannot read " + positional[0] + ": " + ec.message());
    if (!it->is_regular_file(ec)) continue;
    if (fs::weakly_canonical(it->path(), ec) == archive_abs) continue;
    std::string relative = it->path().lexically_relative(root).generic_string();
    std::optional<std::string> name = entry_name_for(relative);
    if (!name) return failure(tool.name, relative + ": the name has no CP932 form");
    if (backslash)
      for (char& c : *name)
        if (c == '/') c = '\\';
    sources.push_back({*name, it->path().string()});
  }
  std::string error;
  const std::size_t count = sources.size();
  if (!write_archive(archive, std::move(sources), seed, &error)) return failure(tool.name, error);
  std::fprintf(stderr, "talven pack: %zu files into %s\n", count, archive.c_str());
  return 0;
}

// Opens an archive for list and unpack.
bool open_archive(const char* tool, const std::string& path, int& fd, ArchiveDirectory& dir) {
  fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    failure(tool, "cannot open " + path + ": " + std::strerror(errno));
    return false;
  }
  switch (read_archive_directory(fd, dir)) {
    case ArchiveStatus::kOk: return true;
    case ArchiveStatus::kBadHeader: failure(tool, path + " is not a directory archive"); break;
    case ArchiveStatus::kNoMemory: failure(tool, "out of memory reading " + path); break;
    case ArchiveStatus::kDamaged: failure(tool, path + " is damaged (directory outside the file)"); break;
  }
  ::close(fd);
  return false;
}

int run_list(int argc, char** argv) {
  const StorageTool& tool = kTools[2];
  if (argc != 2) return usage(tool);
  int fd;
  ArchiveDirectory dir;
  if (!open_archive(tool.name, argv[1], fd, dir)) return 1;
  ::close(fd);
  int status = 0;
  for (std::uint32_t i = 0; i < dir.count; ++i) {
    std::optional<std::string_view> name = dir.name(i);
    const char* note = !name ? "  (damaged name)" : !dir.data_in_file(i) ? "  (data outside the file)" : "";
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
  const fs::path root = argv[2];
  int status = 0;
  std::string data;
  for (std::uint32_t i = 0; i < dir.count; ++i) {
    std::optional<std::string_view> name = dir.name(i);
    std::optional<fs::path> target = name ? host_path_for_entry(root, *name) : std::nullopt;
    if (!target) {
      status = failure(tool.name, "entry " + std::to_string(i) + ": unsafe or damaged name, skipped");
      continue;
    }
    if (!dir.data_in_file(i)) {
      status = failure(tool.name, target->string() + ": data outside the archive, skipped");
      continue;
    }
    data.resize(dir.entries[i].data_size);
    std::size_t done = 0;
    while (done < data.size()) {
      ssize_t n = ::pread(fd, data.data() + done, data.size() - done,
                          static_cast<off_t>(dir.entries[i].data_offset + done));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      done += static_cast<std::size_t>(n);
    }
    std::error_code ec;
    fs::create_directories(target->parent_path(), ec);
    std::string error;
    if (done != data.size()) {
      status = failure(tool.name, "cannot read the data of " + target->string());
    } else if (!write_file_atomic(target->string(), data, &error)) {
      status = failure(tool.name, error);
    }
  }
  ::close(fd);
  return status;
}

int run_compress(int argc, char** argv, bool expand) {
  const StorageTool& tool = kTools[expand ? 4 : 3];
  if (argc != 3) return usage(tool);
  std::string input, output, error;
  if (!read_input(argv[1], input)) return failure(tool.name, std::string("cannot read ") + argv[1]);
  if (expand) {
    if (!expand_bytes(input, output))
      return failure(tool.name, std::string(argv[1]) + " is not in the compressed form, or is damaged");
  } else if (!compress_bytes(input, output)) {
    return failure(tool.name, std::string(argv[1]) + " is too large (2 GiB at most) or memory ran out");
  }
  if (!write_output(argv[2], output, &error)) return failure(tool.name, error);
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
