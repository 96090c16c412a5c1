// Builds the kernel tables once.
#include "graphics/kernels/tables.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <memory>
#include <mutex>
#include <random>

namespace talven::graphics {

std::uint8_t operator_value(int op, int s, int d) {
  int v = 0;
  switch (op) {
    case 0: v = s; break;
    case 1: v = std::min(s + d, 255); break;
    case 2: v = std::max(d - s, 0); break;
    case 3: v = s * d / 255; break;
    case 4: v = s == 0 ? 255 : std::min(255, 255 * d / s); break;
    case 5: v = 255 - (255 - s) * (255 - d) / 255; break;
    case 6: v = d < 128 ? 2 * s * d / 255 : 255 - 2 * (255 - s) * (255 - d) / 255; break;
    case 7: {
      double m = s / 255.0, o = d / 255.0;
      double r = (o - o * o) * (2 * m - 1);
      double x;
      if (m < 0.5) x = o + r;
      else if (o <= 0.12549019607843137) x = o + (3 - 8 * o) * r;
      else x = o + (std::sqrt(o) - o) * (2 * m - 1);
      v = int(x * 255);
      break;
    }
    case 8: v = s > 127 ? 255 - 2 * (255 - s) * (255 - d) / 255 : 2 * s * d / 255; break;
    case 9:
      if (s + d >= 256) v = 255;
      else if (d == 0) v = 0;
      else v = 255 * d / (255 - s);
      break;
    case 10:
      if (s + d <= 254) v = 0;
      else if (s == 0) v = 255;
      else v = 255 - 255 * (255 - d) / s;
      break;
    case 11: v = std::max(s, d); break;
    case 12: v = std::min(s, d); break;
    case 13: v = s ^ d; break;
    default: break;
  }
  return std::uint8_t(std::clamp(v, 0, 255));
}

std::uint8_t over_value(int a, int b) {
  if (b == 0) return 255;
  double x = a / 255.0, y = b / 255.0;
  double v = 255.0 * x / (x + y * (1 - x));
  if (v >= 256.0) return 255;
  return std::uint8_t(int(v));
}

namespace {

std::unique_ptr<KernelTables> g_tables;
std::once_flag g_once;

struct OperatorTables {
  std::uint8_t op[kOperatorCount][256][256];
  std::once_flag built[kOperatorCount];
};
OperatorTables g_operators;

void build() {
  auto t = std::make_unique<KernelTables>();
  for (int a = 0; a < 256; ++a)
    for (int b = 0; b < 256; ++b) {
      t->mul[a][b] = std::uint8_t(a * b / 255);
      t->over[a][b] = over_value(a, b);
      t->screen[a][b] = std::uint8_t(a + b - a * b / 255);
    }
  for (int i = 0; i < 2560; ++i)
    t->sine[i] = std::int32_t(std::sin(i * 2 * std::numbers::pi / 2048) * 65536);
  for (int i = 0; i <= 256; ++i)
    t->arc[i] = std::int32_t(std::atan(i / 256.0) * 1024 / std::numbers::pi);
  for (int i = -256; i < 512; ++i) t->clamp_storage[i + 256] = std::uint8_t(std::clamp(i, 0, 255));
  for (std::uint32_t v = 0; v < 32768; ++v) {
    std::uint32_t r = (v >> 10) & 31, g = (v >> 5) & 31, b = v & 31;
    t->expand15[v] = (r * 255 / 31) << 16 | (g * 255 / 31) << 8 | (b * 255 / 31);
  }
  // A fixed seed keeps effects that use these floats reproducible.
  std::mt19937 gen(5489u);
  for (float& f : t->random) f = float(gen() >> 8) / 16777216.0f;
  g_tables = std::move(t);
}

}  // namespace

void init_kernel_tables() { std::call_once(g_once, build); }

void fill_kernel_random(float (*next)()) {
  init_kernel_tables();
  for (float& f : g_tables->random) f = next();
}

const KernelTables& kernel_tables() {
  init_kernel_tables();
  return *g_tables;
}

const std::uint8_t (*operator_table(int n))[256] {
  n = std::clamp(n, 0, kOperatorCount - 1);
  std::call_once(g_operators.built[n], [n] {
    for (int s = 0; s < 256; ++s)
      for (int d = 0; d < 256; ++d) g_operators.op[n][s][d] = operator_value(n, s, d);
  });
  return g_operators.op[n];
}

}  // namespace talven::graphics
