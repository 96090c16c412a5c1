// Hand-tuned kernels that gcopy uses in place of the generic ones for the
// pairs they cover; each gives exactly the generic result (see the tests).
#pragma once

#include <cstdint>

namespace talven::graphics {

// x / 255 for 0 <= x < 65535, without a division.
constexpr int div255_int(int x) { return (x + 1 + (x >> 8)) >> 8; }

// Mode 5 from 32-bit to 32-bit pixels: n pixels, alpha from the source's
// fourth byte or, when m is given, from mask bytes mask_step apart.
void layer_row_32(std::uint8_t* d, const std::uint8_t* s, const std::uint8_t* m, int mask_step,
                  int n, int opacity);

}  // namespace talven::graphics
