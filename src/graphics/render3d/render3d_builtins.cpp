// Script-facing 3D builtins: read the records the arguments point to, call
// the renderer.
#include "graphics/render3d/render3d_builtins.h"

#include <cstring>

#include "graphics/render3d/model.h"
#include "graphics/render3d/render3d.h"

namespace talven::graphics {

namespace r3 = render3d;

namespace {

bool load_vec(Addr addr, r3::Vec3& v) { return read_bytes(addr, &v, 12); }
bool load_angles(Addr addr, std::int32_t a[3]) { return read_bytes(addr, a, 12); }

}  // namespace

bool bi_p3d_uninit() {
  r3::uninit();
  return true;
}

Addr bi_p3d_load(Addr path) {
  auto text = cstr(path);
  return text ? r3::load_model(*text) : 0;
}

bool bi_p3d_clear() {
  r3::clear();
  return true;
}

bool bi_p3d_view(Addr position, Addr angles) {
  r3::Vec3 pos;
  std::int32_t turn[3];
  if (!load_vec(position, pos) || !load_angles(angles, turn)) return false;
  r3::set_view(pos, turn);
  return true;
}

bool bi_p3d_env(float r, float g, float b) {
  r3::set_ambient(r, g, b);
  return true;
}

bool bi_p3d_light(Addr light, std::uint32_t a, std::uint32_t b, std::uint32_t c) {
  r3::LightRecord rec;
  std::uint8_t bytes[17];
  if (!read_bytes(light, bytes, sizeof bytes)) return false;
  std::memcpy(rec.color, bytes, 12);
  std::memcpy(&rec.range, bytes + 12, 4);
  rec.kind = bytes[16];
  r3::add_light(rec, a, b, c);
  return true;
}

bool bi_p3d_material(Addr model, std::uint32_t group, Addr material) {
  std::uint8_t rec[9];
  if (!read_bytes(material, rec, sizeof rec)) return false;
  std::uint32_t color, texture;
  std::memcpy(&color, rec, 4);
  std::memcpy(&texture, rec + 4, 4);
  return r3::set_material(model, group, color, texture, rec[8]);
}

bool bi_p3d_setobj(Addr model, Addr position, Addr angles) {
  r3::Vec3 pos;
  std::int32_t turn[3];
  if (!load_vec(position, pos) || !load_angles(angles, turn)) return false;
  return r3::set_object(model, pos, turn);
}

void render3d_shutdown() { r3::uninit(); }

}  // namespace talven::graphics
