// Builtin handlers of the 3D renderer (trap numbers 44-56), and its
// shut-down hook.
//
// Models cross the boundary as the script addresses of their records,
// textures as the addresses p3d_tex gives. Bad arguments (addresses out of
// reach, models or planes that are not live) make a handler do nothing and
// answer 0.
#pragma once

#include <cstdint>

#include "base/address_space.h"

namespace talven::graphics {

std::uint32_t bi_p3d_tex(Addr args);
std::uint32_t bi_p3d_init(Addr args);
std::uint32_t bi_p3d_uninit(Addr args);
std::uint32_t bi_p3d_load(Addr args);
std::uint32_t bi_p3d_free(Addr args);
std::uint32_t bi_p3d_normal(Addr args);
std::uint32_t bi_p3d_clear(Addr args);
std::uint32_t bi_p3d_view(Addr args);
std::uint32_t bi_p3d_env(Addr args);
std::uint32_t bi_p3d_light(Addr args);
std::uint32_t bi_p3d_material(Addr args);
std::uint32_t bi_p3d_setobj(Addr args);
std::uint32_t bi_p3d_render(Addr args);

// Frees the depth buffer and every model (at stop).
void render3d_shutdown();

}  // namespace talven::graphics
