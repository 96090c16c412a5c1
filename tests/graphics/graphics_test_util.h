// Shared helpers for the graphics tests: argument blocks in script memory,
// plane set-up and pixel access written independently of the kernels, and a
// fixture that resets the plane table and captures messages.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "base/address_space.h"
#include "runtime/bind.h"
#include "base/game_path.h"
#include "graphics/plane/image_io.h"
#include "graphics/plane/plane.h"
#include "base/config.h"
#include "base/messages.h"
#include "support/temp_dir.h"

namespace talven::graphics::test {

// A block of script memory freed at scope end.
struct ScriptBlock {
  Addr addr = 0;
  explicit ScriptBlock(std::uint32_t size) : addr(script_zalloc(size)) {}
  ScriptBlock(const void* data, std::uint32_t size) : addr(script_alloc(size)) {
    write_bytes(addr, data, size);
  }
  ~ScriptBlock() { script_free(addr); }
  ScriptBlock(const ScriptBlock&) = delete;
  ScriptBlock& operator=(const ScriptBlock&) = delete;
  std::uint8_t* host() const { return span(addr, 1); }
};

// An argument block of 32-bit words.
struct Args : ScriptBlock {
  Args(std::initializer_list<std::uint32_t> words)
      : ScriptBlock(std::uint32_t(words.size() * 4 + 4)) {
    std::uint32_t i = 0;
    for (std::uint32_t w : words) store32(addr + 4 * i++, w);
  }
};

// A string in script memory.
struct ScriptString : ScriptBlock {
  explicit ScriptString(const std::string& s)
      : ScriptBlock(s.c_str(), std::uint32_t(s.size() + 1)) {}
};

// Calls a raw builtin handler with the words as its argument block.
inline std::uint32_t call_raw(std::uint32_t (*handler)(Addr),
                              std::initializer_list<std::uint32_t> words) {
  Args a(words);
  return handler(a.addr);
}

// Calls a typed builtin (runtime/bind.h) with the words as its arguments,
// decoded and the result encoded as the binding does; missing words are 0.
template <class R, class... A>
std::uint32_t call(R (*handler)(A...), std::initializer_list<std::uint32_t> words) {
  EXPECT_LE(words.size(), sizeof...(A)) << "more argument words than the builtin takes";
  std::uint32_t w[sizeof...(A) + 1] = {};
  std::copy_n(words.begin(), std::min(words.size(), sizeof...(A)), w);
  return [&]<std::size_t... I>(std::index_sequence<I...>)->std::uint32_t {
    if constexpr (std::is_void_v<R>) {
      handler(runtime::binding::decode<A>(w[I])...);
      return 0;
    } else {
      return runtime::binding::encode(handler(runtime::binding::decode<A>(w[I])...));
    }
  }
  (std::index_sequence_for<A...>{});
}

// Channels of one pixel.
struct Bgra {
  int b = 0, g = 0, r = 0, a = 255;
  bool operator==(const Bgra& o) const { return b == o.b && g == o.g && r == o.r && a == o.a; }
};

inline std::ostream& operator<<(std::ostream& os, const Bgra& p) {
  return os << "(b" << p.b << " g" << p.g << " r" << p.r << " a" << p.a << ")";
}

// Raw little-endian pixel bytes of (x, y), computed from the row layout.
inline std::uint8_t* raw_pixel(const Plane& p, int x, int y) {
  return p.pixels + std::int64_t(p.height - 1 - y) * p.stride + std::int64_t(x) * p.bpp / 8;
}

inline std::uint32_t raw_value(const Plane& p, int x, int y) {
  std::uint32_t v = 0;
  std::memcpy(&v, raw_pixel(p, x, y), p.bpp / 8);
  return v;
}

inline void set_raw(Plane& p, int x, int y, std::uint32_t v) {
  std::memcpy(raw_pixel(p, x, y), &v, p.bpp / 8);
}

// The pixel as colour: indexes through the plane's table, 5-bit fields
// widened as v * 255 / 31; alpha 255 unless the plane has one.
inline Bgra color_at(const Plane& p, int x, int y) {
  std::uint32_t v = raw_value(p, x, y);
  switch (p.bpp) {
    case 8: {
      const std::uint8_t* e = p.header + 40 + 4 * v;
      return Bgra{e[0], e[1], e[2], 255};
    }
    case 16:
      return Bgra{int((v & 31) * 255 / 31), int(((v >> 5) & 31) * 255 / 31),
                  int(((v >> 10) & 31) * 255 / 31), 255};
    case 24: return Bgra{int(v & 0xFF), int((v >> 8) & 0xFF), int((v >> 16) & 0xFF), 255};
    default: return Bgra{int(v & 0xFF), int((v >> 8) & 0xFF), int((v >> 16) & 0xFF), int(v >> 24)};
  }
}

// Makes a plane in a slot and returns it.
inline Plane* make_plane(int slot, int w, int h, int bpp) {
  set_plane(slot, CreatePlane(w, h, bpp));
  return plane_at(slot);
}

inline void write_host_file(const std::filesystem::path& path, std::string_view data) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(data.data(), std::streamsize(data.size()));
}

inline std::string read_host_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Each test starts with an empty plane table, pages at 0, default palettes,
// the configuration restored afterwards and error messages captured; it runs
// in a scratch directory.
class GraphicsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = ::talven::test::make_temp_dir("talven_graphics_");
    ASSERT_FALSE(dir_.empty());
    old_cwd_ = std::filesystem::current_path();
    std::filesystem::current_path(dir_);
    invalidate_path_cache();
    saved_config_ = config();
    config().Error = 2;
    config().FileSystem = 2;
    reset_planes();
    PlaneTable().view_page = 0;
    PlaneTable().active_page = 0;
    set_message_sink([this](unsigned level, const std::string& text) {
      messages_.push_back({level, text});
      return kMessageOk;
    });
  }
  void TearDown() override {
    set_message_sink({});
    reset_planes();
    config() = saved_config_;
    std::filesystem::current_path(old_cwd_);
    std::filesystem::remove_all(dir_);
    invalidate_path_cache();
  }

  std::vector<std::pair<unsigned, std::string>> messages_;
  std::filesystem::path dir_, old_cwd_;
  Config saved_config_;
};

// Compares a plane with a golden PNG, or writes it when asked to.
inline void expect_golden(const Plane& p, const std::string& name) {
  const std::string path = std::string(TALVEN_TEST_DATA) + "/graphics/" + name;
  if (std::getenv("TALVEN_UPDATE_GOLDEN")) {
    std::string png;
    ASSERT_TRUE(encode_png(p, p.bounds(), png));
    test::write_host_file(path, png);
  }
  std::string bytes = test::read_host_file(path);
  ASSERT_FALSE(bytes.empty()) << "missing golden " << path;
  MemorySource src(bytes.data(), bytes.size());
  PlanePtr g = read_png(src);
  ASSERT_NE(g, nullptr);
  ASSERT_EQ(g->width, p.width);
  ASSERT_EQ(g->height, p.height);
  int diffs = 0;
  for (int y = 0; y < p.height; ++y)
    for (int x = 0; x < p.width; ++x)
      if (!(color_at(*g, x, y) == color_at(p, x, y)) && diffs++ < 5)
        ADD_FAILURE() << name << " differs at " << x << "," << y << ": " << color_at(p, x, y)
                      << " vs " << color_at(*g, x, y);
  EXPECT_EQ(diffs, 0) << name;
}

}  // namespace talven::graphics::test
