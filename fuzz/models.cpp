// 3D model files: parsed and checked, written back and parsed again (the two
// must agree), loaded into script memory, given materials and normals, and
// rendered into a small plane from a camera in front of them.
#include <cstdlib>
#include <cstring>

#include "fuzz_common.h"
#include "graphics/plane/plane.h"
#include "graphics/render3d/model.h"
#include "graphics/render3d/render3d.h"

namespace {

constexpr std::int32_t kTarget = 1, kTexture = 2;

bool same(const talven::graphics::render3d::ModelData& a,
          const talven::graphics::render3d::ModelData& b) {
  if (a.radius != b.radius || a.vertices.size() != b.vertices.size() ||
      a.faces.size() != b.faces.size())
    return false;
  for (std::size_t i = 0; i < a.vertices.size(); ++i)
    if (std::memcmp(&a.vertices[i], &b.vertices[i], sizeof(a.vertices[i])) != 0) return false;
  for (std::size_t i = 0; i < a.faces.size(); ++i)
    if (std::memcmp(a.faces[i].index, b.faces[i].index, sizeof(a.faces[i].index)) != 0 ||
        a.faces[i].group != b.faces[i].group)
      return false;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace talven;
  using namespace talven::graphics;
  using namespace talven::graphics::render3d;
  talven::fuzz::quiet();
  static const bool ready = [] {
    set_plane(kTarget, CreatePlane(48, 48, 32));
    set_plane(kTexture, CreatePlane(8, 8, 32));
    return init(kTarget, 48.0f, 0.5f, 1000.0f);
  }();
  if (!ready) std::abort();

  ModelData model;
  if (!parse_model(std::string_view(reinterpret_cast<const char*>(data), size), model)) return 0;
  // Writing a checked model and reading it back gives the same model (texture
  // coordinates aside: large ones lose bits in the float form).
  ModelData again;
  if (!parse_model(encode_model(model), again) || !same(model, again)) std::abort();

  const Addr record = add_model(model);
  if (!record) return 0;
  // A material per group used, its type and colour taken from the data.
  std::uint8_t used[256] = {};
  for (const auto& f : model.faces) used[f.group] = 1;
  const Addr texture = texture_address(kTexture);
  for (std::uint32_t g = 0; g < 256; ++g)
    if (used[g]) set_material(record, g, 0x804020u * (g + 1), texture, g % kMaterialTypes);
  compute_normals(record);

  clear();
  const std::int32_t ahead[3] = {0, 0, 0};
  set_view(Vec3{}, ahead);
  set_ambient(0.5f, 0.5f, 0.5f);
  const LightRecord light{{1, 1, 1}, 100, 0};
  add_light(light, 100, 200, 0);
  // Far enough that the model's own radius keeps it in front of the camera,
  // and once again turned and close, so that faces cross the near plane.
  const float r = model.radius > 0 && model.radius < 1e6f ? model.radius : 1.0f;
  set_object(record, Vec3{0, 0, 3 * r + 1}, ahead);
  const std::int32_t turned[3] = {300, 700, 1500};
  set_object(record, Vec3{0.1f, -0.2f, r * 0.5f}, turned);
  render();
  free_model(record);
  return 0;
}
