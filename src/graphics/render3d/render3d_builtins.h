// Builtin handlers of the 3D renderer (trap numbers 44-56), typed
// (runtime/bind.h), and its shut-down hook.
//
// p3d_tex, p3d_init, p3d_free, p3d_normal and p3d_render are the
// renderer's own functions (render3d.h, model.h); the handlers below read
// the records their arguments point to. Models cross the boundary as the
// script addresses of their records, textures as the addresses p3d_tex
// gives. Bad arguments (addresses out of reach, models or planes that are
// not live) make a handler do nothing and answer 0.
#pragma once

#include <cstdint>

#include "base/address_space.h"
#include "graphics/render3d/model.h"     // p3d_tex, p3d_free, p3d_normal: bound as they are
#include "graphics/render3d/render3d.h"  // p3d_init, p3d_render: bound as they are

namespace talven::graphics {

bool bi_p3d_uninit();
// The model record's address, 0 when the file cannot be loaded.
Addr bi_p3d_load(Addr path);
bool bi_p3d_clear();
// position: three floats; angles: three signed words.
bool bi_p3d_view(Addr position, Addr angles);
bool bi_p3d_env(float r, float g, float b);
// light: colour (three floats), range (float), kind (byte); a, b, c as
// render3d::add_light takes them.
bool bi_p3d_light(Addr light, std::uint32_t a, std::uint32_t b, std::uint32_t c);
// material: colour word, texture address, type byte.
bool bi_p3d_material(Addr model, std::uint32_t group, Addr material);
bool bi_p3d_setobj(Addr model, Addr position, Addr angles);

// Frees the depth buffer and every model (at stop).
void render3d_shutdown();

}  // namespace talven::graphics
