// Script-facing 3D builtins: decode, call the renderer, encode.
#include "graphics/render3d/render3d_builtins.h"

#include <bit>
#include <cstring>

#include "graphics/render3d/model.h"
#include "graphics/render3d/render3d.h"
#include "runtime/builtins.h"

namespace talven::graphics {

namespace r3 = render3d;

namespace {

std::uint32_t arg(Addr args, unsigned i) { return runtime::arg_word(args, i); }
float farg(Addr args, unsigned i) { return std::bit_cast<float>(runtime::arg_word(args, i)); }

bool load_vec(Addr addr, r3::Vec3& v) { return read_bytes(addr, &v, 12); }
bool load_angles(Addr addr, std::int32_t a[3]) { return read_bytes(addr, a, 12); }

}  // namespace

std::uint32_t bi_p3d_tex(Addr args) { return r3::texture_address(std::int32_t(arg(args, 0))); }

std::uint32_t bi_p3d_init(Addr args) {
  return r3::init(std::int32_t(arg(args, 0)), farg(args, 1), farg(args, 2), farg(args, 3)) ? 1 : 0;
}

std::uint32_t bi_p3d_uninit(Addr) {
  r3::uninit();
  return 1;
}

std::uint32_t bi_p3d_load(Addr args) {
  auto path = cstr(arg(args, 0));
  return path ? r3::load_model(*path) : 0;
}

std::uint32_t bi_p3d_free(Addr args) { return r3::free_model(arg(args, 0)) ? 1 : 0; }
std::uint32_t bi_p3d_normal(Addr args) { return r3::compute_normals(arg(args, 0)) ? 1 : 0; }

std::uint32_t bi_p3d_clear(Addr) {
  r3::clear();
  return 1;
}

std::uint32_t bi_p3d_view(Addr args) {
  r3::Vec3 pos;
  std::int32_t angles[3];
  if (!load_vec(arg(args, 0), pos) || !load_angles(arg(args, 1), angles)) return 0;
  r3::set_view(pos, angles);
  return 1;
}

std::uint32_t bi_p3d_env(Addr args) {
  r3::set_ambient(farg(args, 0), farg(args, 1), farg(args, 2));
  return 1;
}

std::uint32_t bi_p3d_light(Addr args) {
  r3::LightRecord rec;
  std::uint8_t bytes[17];
  if (!read_bytes(arg(args, 0), bytes, sizeof bytes)) return 0;
  std::memcpy(rec.color, bytes, 12);
  std::memcpy(&rec.range, bytes + 12, 4);
  rec.kind = bytes[16];
  r3::add_light(rec, arg(args, 1), arg(args, 2), arg(args, 3));
  return 1;
}

std::uint32_t bi_p3d_material(Addr args) {
  std::uint8_t rec[9];
  if (!read_bytes(arg(args, 2), rec, sizeof rec)) return 0;
  std::uint32_t color, texture;
  std::memcpy(&color, rec, 4);
  std::memcpy(&texture, rec + 4, 4);
  return r3::set_material(arg(args, 0), arg(args, 1), color, texture, rec[8]) ? 1 : 0;
}

std::uint32_t bi_p3d_setobj(Addr args) {
  r3::Vec3 pos;
  std::int32_t angles[3];
  if (!load_vec(arg(args, 1), pos) || !load_angles(arg(args, 2), angles)) return 0;
  return r3::set_object(arg(args, 0), pos, angles) ? 1 : 0;
}

std::uint32_t bi_p3d_render(Addr) { return r3::render() ? 1 : 0; }

void render3d_shutdown() { r3::uninit(); }

}  // namespace talven::graphics
