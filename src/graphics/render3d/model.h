// Model files and the model table of the 3D renderer.
//
// A model file is little-endian:
//   u16 vertex count V, u16 face count F, f32 bounding radius,
//   V vertices of three f32 (x, y, z),
//   F faces of 31 bytes: three u16 vertex indices, three (u, v) pairs of
//   f32 texture coordinates, one byte of group number.
// Texture coordinates are fractions of the texture's size (1.0 is its full
// width or height); they are kept as 16.16 fixed point (x 65536, truncated).
//
// parse_model() checks a file completely before anything is allocated: a
// file that is shorter than its counts claim, names a vertex index out of
// range, or holds a NaN, infinite or out-of-range number is refused.
//
// Loaded models live in script memory, because p3d_load hands their address
// to scripts: a 24-byte model record, an array of 28-byte vertices and an
// array of 56-byte faces (layouts below). The table of 1024 slots in host
// memory keeps each model's addresses and counts, and the renderer trusts
// only those: whatever a script writes into the records is read through
// checked access and validated where it is used (types, indices, textures).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/address_space.h"
#include "graphics/plane/plane.h"

namespace talven::graphics::render3d {

constexpr int kModelSlots = 1024;
constexpr int kMaterialTypes = 11;

// Script-visible record layouts (byte offsets).
namespace model_record {
constexpr std::uint32_t kInUse = 0, kRadius = 4, kVertexCount = 8, kVertices = 12, kFaceCount = 16,
                        kFaces = 20, kSize = 24;
}
namespace vertex_record {
constexpr std::uint32_t kPosition = 0, kNormal = 12, kFlags = 24, kSize = 28;
}
namespace face_record {
constexpr std::uint32_t kType = 0, kFlags = 1, kIndex = 2, kTexCoord = 8, kNormal = 32, kColor = 44,
                        kTexture = 48, kGroup = 52, kSize = 56;
}

// Face flag bits.
constexpr std::uint8_t kFlagEnvironment = 0x01;
constexpr std::uint8_t kFlagGouraud = 0x02;
constexpr std::uint8_t kFlagFlat = 0x08;
constexpr std::uint8_t kFlagTextured = 0x10;
constexpr std::uint8_t kFlagReversed = 0x20;
constexpr std::uint8_t kFlagTwoSided = 0x40;

// Face flags of each material type; 0x20 is added to types 6 to 8 when
// their texture has 32 bits.
extern const std::uint8_t kMaterialFlags[kMaterialTypes];

struct Vec3 {
  float x = 0, y = 0, z = 0;
};

// A model file's contents, checked.
struct ModelData {
  float radius = 0;
  std::vector<Vec3> vertices;
  struct Face {
    std::uint16_t index[3];
    std::int32_t uv[3][2];  // 16.16
    std::uint8_t group;
  };
  std::vector<Face> faces;
};

constexpr std::size_t kModelHeaderBytes = 8;
constexpr std::size_t kModelVertexBytes = 12;
constexpr std::size_t kModelFaceBytes = 31;
// The largest file the counts allow (65535 vertices and faces).
constexpr std::size_t kModelMaxBytes =
    kModelHeaderBytes + 65535 * kModelVertexBytes + 65535 * kModelFaceBytes;

// Parses and checks a model file; false with `error` set when it is refused.
bool parse_model(std::string_view bytes, ModelData& out, std::string* error = nullptr);
// The file form of a model (the inverse of parse_model).
std::string encode_model(const ModelData& model);

// One slot of the model table.
struct ModelSlot {
  Addr record = 0;  // 0: free
  Addr vertices = 0;
  Addr faces = 0;
  std::uint32_t vertex_count = 0;
  std::uint32_t face_count = 0;
};

// Loads a model file through the file layer into the first free slot;
// the record's address, 0 on failure.
Addr load_model(std::string_view path);
// Puts checked model data into the first free slot; 0 when the table is
// full or script memory runs out.
Addr add_model(const ModelData& data);
// The slot of a live model address, or null.
const ModelSlot* find_model(Addr record);
bool free_model(Addr record);
void free_all_models();
// Recomputes face normals (normalised cross products of two edges) and
// vertex normals (the mean of their faces' normals); false for a bad model.
bool compute_normals(Addr record);
// Sets type, colour and texture of a group's faces, their flags from the
// type table, and ORs the flags into the faces' vertices.
bool set_material(Addr record, std::uint32_t group, std::uint32_t color, Addr texture,
                  std::uint32_t type);

// Texture planes cross the boundary as the address of the plane's header
// block, unique while the plane lives. 0 for an empty slot.
Addr texture_address(std::int32_t slot);
// The plane behind a texture address, or null when it is not a live plane.
Plane* texture_plane(Addr texture);

}  // namespace talven::graphics::render3d
