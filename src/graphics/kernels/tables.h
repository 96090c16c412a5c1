// Start-up tables of the pixel kernels, filters and 3D renderer.
//
// Everything per pixel is a lookup: the fourteen blend operators, the
// multiply table, the layering weights, clamping and the 15-bit expansion.
// The sine and arc tables are also the script library's fixed-point
// trigonometry. Built once by init_kernel_tables() (called lazily by
// kernel_tables()) and kept for the whole run.
#pragma once

#include <array>
#include <cstdint>

namespace talven::graphics {

constexpr int kOperatorCount = 14;

struct KernelTables {
  std::uint8_t mul[256][256];       // a * b / 255
  std::uint8_t over[256][256];      // weight of alpha a laid over alpha b
  std::uint8_t screen[256][256];    // a + b - a * b / 255: alpha of a layering
  std::int32_t sine[2560];          // sin(i * 2pi / 2048) * 65536
  std::int32_t arc[257];            // atan(i / 256) * 1024 / pi
  std::uint8_t clamp_storage[768];  // index -256..511 through clamp()
  std::uint32_t expand15[32768];    // x1r5g5b5 -> 0x00RRGGBB, v * 255 / 31
  float random[4096];               // [0, 1)

  std::uint8_t clamp(int v) const { return clamp_storage[v + 256]; }
};

// The tables, built on first use.
const KernelTables& kernel_tables();
void init_kernel_tables();

// The table of blend operator n (0..13), indexed [s][d] with s the upper
// layer and d the lower one. Each is built when first asked for: most games
// use few operators, and all fourteen cost a start-up several milliseconds.
const std::uint8_t (*operator_table(int n))[256];

// Refills the random floats from the runtime's generator (at runtime start,
// right after the noise table is drawn, before any script runs). Until then
// they come from a fixed seed, so tests are reproducible either way.
void fill_kernel_random(float (*next)());

// Formula versions, exposed so that tests can check the tables.
std::uint8_t operator_value(int op, int s, int d);
std::uint8_t over_value(int a, int b);

}  // namespace talven::graphics
