// The frame-window rule shared by pre-decoded blocks and their machine code.
//
// A block checks the frame slots it reaches through r6 once, on entry: the
// accesses made before the first instruction that may change r6 form one
// window [r6 + lo, r6 + hi), and those accesses run unchecked when the
// window lies inside script memory. Only slots near r6 join the window: a
// wide window is more likely to leave script memory and fail for all of the
// block, so displacements at kFrameReach or beyond are checked one by one.
#pragma once

#include <cstdint>

namespace talven::script {

constexpr std::int64_t kFrameReach = 1 << 16;

// Whether the frame slots [r6 + lo, r6 + hi) (displacements as signed
// numbers) may join a block's window.
constexpr bool frame_slot_in_reach(std::int64_t lo, std::int64_t hi) {
  return lo > -kFrameReach && hi < kFrameReach;
}

}  // namespace talven::script
