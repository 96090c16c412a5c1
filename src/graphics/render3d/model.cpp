// Model files, the model table and materials.
#include "graphics/render3d/model.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

#include "storage/file_layer.h"

namespace talven::graphics::render3d {

const std::uint8_t kMaterialFlags[kMaterialTypes] = {0x08, 0x02, 0x02, 0x68, 0x62, 0x62,
                                                     0x18, 0x12, 0x12, 0x13, 0x13};

namespace {

std::array<ModelSlot, kModelSlots> g_models;

template <typename T>
T read_le(const char* p) {
  T v;
  std::memcpy(&v, p, sizeof(T));
  return v;
}

bool fail(std::string* error, const std::string& why) {
  if (error) *error = why;
  return false;
}

// Texture coordinates must fit 16.16 fixed point.
bool to_fixed(float f, std::int32_t& out) {
  if (!std::isfinite(f) || f <= -32768.0f || f >= 32768.0f) return false;
  out = std::int32_t(f * 65536.0f);
  return true;
}

float fixed_to_float(std::int32_t v) { return float(v) / 65536.0f; }

void put_vec(std::uint8_t* p, const Vec3& v) { std::memcpy(p, &v, 12); }
Vec3 get_vec(const std::uint8_t* p) {
  Vec3 v;
  std::memcpy(&v, p, 12);
  return v;
}

void release(ModelSlot& slot) {
  if (slot.record) {
    store32(slot.record + model_record::kInUse, 0);
    script_free(slot.vertices);
    script_free(slot.faces);
    script_free(slot.record);
  }
  slot = ModelSlot{};
}

ModelSlot* find_slot(Addr record) {
  if (!record) return nullptr;
  for (ModelSlot& s : g_models)
    if (s.record == record) return &s;
  return nullptr;
}

}  // namespace

bool parse_model(std::string_view bytes, ModelData& out, std::string* error) {
  out = ModelData{};
  if (bytes.size() < kModelHeaderBytes) return fail(error, "shorter than the model header");
  const std::uint32_t nv = read_le<std::uint16_t>(bytes.data());
  const std::uint32_t nf = read_le<std::uint16_t>(bytes.data() + 2);
  const float radius = read_le<float>(bytes.data() + 4);
  const std::size_t need = kModelHeaderBytes + nv * kModelVertexBytes + nf * kModelFaceBytes;
  if (bytes.size() < need)
    return fail(error, "holds " + std::to_string(bytes.size()) + " bytes, its counts need " +
                           std::to_string(need));
  if (!std::isfinite(radius) || radius < 0) return fail(error, "bad bounding radius");
  out.radius = radius;
  out.vertices.resize(nv);
  const char* p = bytes.data() + kModelHeaderBytes;
  for (std::uint32_t i = 0; i < nv; ++i, p += kModelVertexBytes) {
    Vec3 v{read_le<float>(p), read_le<float>(p + 4), read_le<float>(p + 8)};
    if (!std::isfinite(v.x) || !std::isfinite(v.y) || !std::isfinite(v.z))
      return fail(error, "vertex " + std::to_string(i) + " is not a finite number");
    out.vertices[i] = v;
  }
  out.faces.resize(nf);
  for (std::uint32_t i = 0; i < nf; ++i, p += kModelFaceBytes) {
    ModelData::Face& f = out.faces[i];
    for (int k = 0; k < 3; ++k) {
      f.index[k] = read_le<std::uint16_t>(p + 2 * k);
      if (f.index[k] >= nv)
        return fail(error, "face " + std::to_string(i) + " names vertex " +
                               std::to_string(f.index[k]) + " of " + std::to_string(nv));
      if (!to_fixed(read_le<float>(p + 6 + 8 * k), f.uv[k][0]) ||
          !to_fixed(read_le<float>(p + 10 + 8 * k), f.uv[k][1]))
        return fail(error, "face " + std::to_string(i) + " has a bad texture coordinate");
    }
    f.group = std::uint8_t(p[30]);
  }
  return true;
}

std::string encode_model(const ModelData& m) {
  std::string s;
  auto put = [&s](const auto& v) { s.append(reinterpret_cast<const char*>(&v), sizeof(v)); };
  put(std::uint16_t(m.vertices.size()));
  put(std::uint16_t(m.faces.size()));
  put(m.radius);
  for (const Vec3& v : m.vertices) {
    put(v.x);
    put(v.y);
    put(v.z);
  }
  for (const ModelData::Face& f : m.faces) {
    for (int k = 0; k < 3; ++k) put(f.index[k]);
    for (int k = 0; k < 3; ++k) {
      put(fixed_to_float(f.uv[k][0]));
      put(fixed_to_float(f.uv[k][1]));
    }
    put(f.group);
  }
  return s;
}

Addr add_model(const ModelData& data) {
  if (data.vertices.size() > 65535 || data.faces.size() > 65535) return 0;
  ModelSlot* slot = nullptr;
  for (ModelSlot& s : g_models)
    if (!s.record) {
      slot = &s;
      break;
    }
  if (!slot) return 0;
  const auto nv = std::uint32_t(data.vertices.size());
  const auto nf = std::uint32_t(data.faces.size());
  ModelSlot s;
  s.record = script_zalloc(model_record::kSize);
  s.vertices = script_zalloc(nv * vertex_record::kSize);
  s.faces = script_zalloc(nf * face_record::kSize);
  s.vertex_count = nv;
  s.face_count = nf;
  if (!s.record || !s.vertices || !s.faces) {
    release(s);
    return 0;
  }
  std::uint8_t* v = span(s.vertices, nv * vertex_record::kSize);
  for (std::uint32_t i = 0; i < nv; ++i) put_vec(v + i * vertex_record::kSize, data.vertices[i]);
  std::uint8_t* f = span(s.faces, nf * face_record::kSize);
  for (std::uint32_t i = 0; i < nf; ++i) {
    std::uint8_t* r = f + i * face_record::kSize;
    const ModelData::Face& src = data.faces[i];
    r[face_record::kFlags] = kMaterialFlags[0];
    std::memcpy(r + face_record::kIndex, src.index, 6);
    std::memcpy(r + face_record::kTexCoord, src.uv, 24);
    const std::uint32_t white = 0xFFFFFF;
    std::memcpy(r + face_record::kColor, &white, 4);
    r[face_record::kGroup] = src.group;
  }
  for (std::uint32_t i = 0; i < nf; ++i)
    for (int k = 0; k < 3; ++k)
      v[data.faces[i].index[k] * vertex_record::kSize + vertex_record::kFlags] |= kMaterialFlags[0];
  store32(s.record + model_record::kInUse, 1);
  store(s.record + model_record::kRadius, data.radius);
  store32(s.record + model_record::kVertexCount, nv);
  store32(s.record + model_record::kVertices, s.vertices);
  store32(s.record + model_record::kFaceCount, nf);
  store32(s.record + model_record::kFaces, s.faces);
  *slot = s;
  compute_normals(s.record);
  return s.record;
}

Addr load_model(std::string_view path) {
  storage::ExpFilePtr file(storage::OpenExpFile(path));
  if (!file) return 0;
  const std::int64_t size = storage::GetExpFileSize(file.get());
  if (size < 0) return 0;
  // Bytes past the largest possible model are never needed.
  std::string bytes(std::size_t(std::min<std::int64_t>(size, kModelMaxBytes)), '\0');
  std::size_t got = 0;
  if (!storage::ReadExpFile(file.get(), bytes.data(), bytes.size(), &got)) return 0;
  bytes.resize(got);
  ModelData data;
  if (!parse_model(bytes, data)) return 0;
  return add_model(data);
}

const ModelSlot* find_model(Addr record) { return find_slot(record); }

bool free_model(Addr record) {
  ModelSlot* s = find_slot(record);
  if (!s) return false;
  release(*s);
  return true;
}

void free_all_models() {
  for (ModelSlot& s : g_models) release(s);
}

bool compute_normals(Addr record) {
  const ModelSlot* s = find_slot(record);
  if (!s) return false;
  std::uint8_t* v = wspan(s->vertices, s->vertex_count * vertex_record::kSize);
  std::uint8_t* f = wspan(s->faces, s->face_count * face_record::kSize);
  if ((s->vertex_count && !v) || (s->face_count && !f)) return false;
  std::vector<Vec3> sum(s->vertex_count);
  std::vector<std::uint32_t> uses(s->vertex_count, 0);
  for (std::uint32_t i = 0; i < s->face_count; ++i) {
    std::uint8_t* r = f + i * face_record::kSize;
    std::uint16_t idx[3];
    std::memcpy(idx, r + face_record::kIndex, 6);
    Vec3 n;
    if (idx[0] < s->vertex_count && idx[1] < s->vertex_count && idx[2] < s->vertex_count) {
      const Vec3 a = get_vec(v + idx[0] * vertex_record::kSize);
      const Vec3 b = get_vec(v + idx[1] * vertex_record::kSize);
      const Vec3 c = get_vec(v + idx[2] * vertex_record::kSize);
      const Vec3 e1{b.x - a.x, b.y - a.y, b.z - a.z}, e2{c.x - a.x, c.y - a.y, c.z - a.z};
      n = Vec3{e1.y * e2.z - e1.z * e2.y, e1.z * e2.x - e1.x * e2.z, e1.x * e2.y - e1.y * e2.x};
      const float len = std::sqrt(n.x * n.x + n.y * n.y + n.z * n.z);
      // A degenerate face keeps a zero normal rather than a NaN one.
      if (len > 0 && std::isfinite(len)) n = Vec3{n.x / len, n.y / len, n.z / len};
      else n = Vec3{};
      for (int k = 0; k < 3; ++k) {
        sum[idx[k]].x += n.x;
        sum[idx[k]].y += n.y;
        sum[idx[k]].z += n.z;
        uses[idx[k]]++;
      }
    }
    put_vec(r + face_record::kNormal, n);
  }
  for (std::uint32_t i = 0; i < s->vertex_count; ++i) {
    Vec3 n;
    if (uses[i])
      n = Vec3{sum[i].x / float(uses[i]), sum[i].y / float(uses[i]), sum[i].z / float(uses[i])};
    put_vec(v + i * vertex_record::kSize + vertex_record::kNormal, n);
  }
  return true;
}

bool set_material(Addr record, std::uint32_t group, std::uint32_t color, Addr texture,
                  std::uint32_t type) {
  const ModelSlot* s = find_slot(record);
  if (!s || type >= std::uint32_t(kMaterialTypes)) return false;
  std::uint8_t* v = wspan(s->vertices, s->vertex_count * vertex_record::kSize);
  std::uint8_t* f = wspan(s->faces, s->face_count * face_record::kSize);
  if ((s->vertex_count && !v) || (s->face_count && !f)) return false;
  std::uint8_t flags = kMaterialFlags[type];
  const Plane* tex = texture_plane(texture);
  if (type >= 6 && type <= 8 && tex && tex->bpp == 32) flags |= kFlagReversed;
  for (std::uint32_t i = 0; i < s->face_count; ++i) {
    std::uint8_t* r = f + i * face_record::kSize;
    if (r[face_record::kGroup] != group) continue;
    r[face_record::kType] = std::uint8_t(type);
    r[face_record::kFlags] = flags;
    std::memcpy(r + face_record::kColor, &color, 4);
    std::memcpy(r + face_record::kTexture, &texture, 4);
    std::uint16_t idx[3];
    std::memcpy(idx, r + face_record::kIndex, 6);
    for (int k = 0; k < 3; ++k)
      if (idx[k] < s->vertex_count)
        v[idx[k] * vertex_record::kSize + vertex_record::kFlags] |= flags;
  }
  return true;
}

Addr texture_address(std::int32_t slot) {
  const Plane* p = plane_at(slot);
  return p ? p->info : 0;
}

Plane* texture_plane(Addr texture) {
  if (!texture) return nullptr;
  for (int i = 0; i < kPlaneSlots; ++i) {
    Plane* p = plane_at(i);
    if (p && p->info == texture) return p;
  }
  return nullptr;
}

}  // namespace talven::graphics::render3d
