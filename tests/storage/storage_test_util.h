// Shared helpers for the storage tests: a scratch directory that is the
// current directory for the test, captured messages, and a raw archive
// builder that scrambles with its own copy of the keystream.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "base/game_path.h"
#include "base/config.h"
#include "base/messages.h"
#include "support/host_path.h"
#include "support/temp_dir.h"

namespace talven::storage::test {

inline void write_host_file(const std::filesystem::path& path, std::string_view data) {
  std::filesystem::create_directories(path.parent_path().empty() ? "." : path.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(data.data(), static_cast<std::streamsize>(data.size()));
}

inline std::string read_host_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// The same with names given as UTF-8 text (see support/host_path.h).
inline void write_host_file(const std::string& path, std::string_view data) {
  write_host_file(::talven::test::utf8_path(path), data);
}
inline void write_host_file(const char* path, std::string_view data) {
  write_host_file(::talven::test::utf8_path(path), data);
}
inline std::string read_host_file(const std::string& path) {
  return read_host_file(::talven::test::utf8_path(path));
}
inline std::string read_host_file(const char* path) {
  return read_host_file(::talven::test::utf8_path(path));
}

// Runs each test in a fresh directory with level-2 messages captured.
class StorageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = ::talven::test::make_temp_dir("talven_storage_");
    ASSERT_FALSE(dir_.empty());
    old_cwd_ = std::filesystem::current_path();
    std::filesystem::current_path(dir_);
    saved_config_ = config();
    config().Error = 2;
    config().FileSystem = 1;
    set_message_sink([this](unsigned level, const std::string& text) {
      messages_.push_back({level, text});
      return kMessageOk;
    });
    invalidate_path_cache();
  }
  void TearDown() override {
    set_message_sink({});
    config() = saved_config_;
    std::filesystem::current_path(old_cwd_);
    std::filesystem::remove_all(dir_);
    invalidate_path_cache();
  }

  // The texts of the messages so far (all must be level 2); clears them.
  std::vector<std::string> take_messages() {
    std::vector<std::string> texts;
    for (auto& [level, text] : messages_) {
      EXPECT_EQ(level, 2u) << text;
      texts.push_back(text);
    }
    messages_.clear();
    return texts;
  }

  std::filesystem::path dir_;
  std::filesystem::path old_cwd_;
  Config saved_config_;
  std::vector<std::pair<unsigned, std::string>> messages_;
};

inline void put32(std::string& out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out += static_cast<char>(v >> (8 * i));
}

// Keystream written out independently of the runtime's.
inline std::uint32_t test_step(std::uint32_t s) {
  std::uint32_t t = s ^ 0x4B1D7E29u;
  std::uint32_t m = ((t ^ (t >> 1)) >> 3) ^ ((t ^ (t << 1)) << 3);
  return t ^ m;
}

// Raw directory words of one entry.
struct RawEntry {
  std::uint32_t name_offset, data_offset, data_size;
};

// An archive image from explicit header values, directory words, name block
// and trailing data, scrambled with `seed`.
inline std::string raw_archive(std::uint32_t seed, std::uint32_t count, std::uint32_t names_size,
                               const std::vector<RawEntry>& entries, std::string_view names,
                               std::string_view tail = {}, std::string_view magic = "TLV-ARC2") {
  std::string out(magic);
  put32(out, seed);
  std::uint32_t s = seed;
  s = test_step(s);
  put32(out, count ^ s);
  s = test_step(s);
  put32(out, names_size ^ s);
  for (const RawEntry& e : entries)
    for (std::uint32_t w : {e.name_offset, e.data_offset, e.data_size}) {
      s = test_step(s);
      put32(out, w ^ s);
    }
  out += names;
  out += tail;
  return out;
}

// A well-formed archive of (name, data) pairs given in sorted order.
inline std::string make_archive(const std::vector<std::pair<std::string, std::string>>& files,
                                std::uint32_t seed = 0x12345678) {
  std::string names, data;
  std::vector<RawEntry> entries;
  const std::uint32_t count = static_cast<std::uint32_t>(files.size());
  std::uint32_t names_size = 0;
  for (auto& f : files) names_size += static_cast<std::uint32_t>(f.first.size() + 1);
  const std::uint32_t data_start = 20 + 12 * count + names_size;
  for (auto& [name, bytes] : files) {
    entries.push_back({static_cast<std::uint32_t>(names.size()),
                       data_start + static_cast<std::uint32_t>(data.size()),
                       static_cast<std::uint32_t>(bytes.size())});
    names += name;
    names += '\0';
    data += bytes;
  }
  return raw_archive(seed, count, names_size, entries, names, data);
}

}  // namespace talven::storage::test
