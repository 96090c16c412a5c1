// The `model` tool: OBJ conversion and model summaries.
#include "graphics/render3d/model_tools.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>

#include "base/atomic_file.h"
#include "base/host_file.h"

namespace talven::graphics::render3d {

namespace {

const ModelTool kTools[] = {
    {"model", "IN.obj OUT", "convert a Wavefront OBJ file into a 3D model file"},
    {"model", "FILE", "show a 3D model file's counts, radius, bounds and groups"},
};

// Reads the tool's input file; says so on standard error when it cannot.
bool read_input(const char* path, std::string& out) {
  std::ifstream in(host_file::fs_path(path), std::ios::binary);
  if (in) {
    out.assign(std::istreambuf_iterator<char>(in), {});
    if (!in.bad()) return true;
  }
  std::fprintf(stderr, "model: cannot read %s\n", path);
  return false;
}

// An OBJ index (1-based, or negative counting back from the end) to a
// 0-based one; false when it is out of range.
bool resolve(long index, std::size_t count, std::size_t& out) {
  if (index > 0 && std::size_t(index) <= count) {
    out = std::size_t(index - 1);
    return true;
  }
  if (index < 0 && std::size_t(-index) <= count) {
    out = count - std::size_t(-index);
    return true;
  }
  return false;
}

// OBJ files are text: a NUL byte or a control character other than tab,
// line feed, carriage return or form feed marks binary data (a model file,
// an image...), which the converter refuses before reading any line.
bool looks_like_text(std::string_view bytes) {
  for (unsigned char c : bytes)
    if (c < 0x20 && c != '\t' && c != '\n' && c != '\r' && c != '\f') return false;
  return true;
}

bool parse_float(const std::string& s, float& out) {
  char* end = nullptr;
  out = std::strtof(s.c_str(), &end);
  return end != s.c_str() && *end == '\0' && std::isfinite(out);
}

}  // namespace

std::span<const ModelTool> model_tools() { return kTools; }

bool is_model_tool(std::string_view name) { return name == "model"; }

bool convert_obj(std::string_view text, ModelData& out, std::vector<std::string>& groups,
                 std::string& error) {
  out = ModelData{};
  groups.clear();
  std::vector<std::pair<float, float>> uvs;
  int group = -1;  // no usemtl yet: group 0
  std::istringstream in{std::string(text)};
  std::string line;
  int number = 0;
  auto fail = [&](const std::string& why) {
    error = "line " + std::to_string(number) + ": " + why;
    return false;
  };
  while (std::getline(in, line)) {
    ++number;
    if (auto hash = line.find('#'); hash != std::string::npos) line.resize(hash);
    std::istringstream words(line);
    std::string key;
    if (!(words >> key)) continue;
    std::vector<std::string> args{std::istream_iterator<std::string>(words), {}};
    if (key == "v") {
      float x, y, z;
      if (args.size() < 3 || !parse_float(args[0], x) || !parse_float(args[1], y) ||
          !parse_float(args[2], z))
        return fail("a vertex needs three numbers");
      if (out.vertices.size() == 65535) return fail("more than 65535 vertices");
      out.vertices.push_back(Vec3{x, y, -z});
    } else if (key == "vt") {
      float u, v = 0;
      if (args.empty() || !parse_float(args[0], u) || (args.size() > 1 && !parse_float(args[1], v)))
        return fail("a texture coordinate needs numbers");
      if (std::fabs(u) >= 32767 || std::fabs(v) >= 32767)
        return fail("texture coordinate out of range");
      uvs.push_back({u, 1.0f - v});
    } else if (key == "usemtl") {
      const std::string name = args.empty() ? std::string() : args[0];
      auto it = std::find(groups.begin(), groups.end(), name);
      if (it == groups.end()) {
        if (groups.size() == 256) return fail("more than 256 materials");
        groups.push_back(name);
        it = groups.end() - 1;
      }
      group = int(it - groups.begin());
    } else if (key == "f") {
      if (args.size() < 3) return fail("a face needs three vertices");
      std::vector<std::pair<std::size_t, std::pair<float, float>>> corners;
      for (const std::string& a : args) {
        char* end = nullptr;
        const long vi = std::strtol(a.c_str(), &end, 10);
        std::size_t v;
        if (end == a.c_str() || !resolve(vi, out.vertices.size(), v))
          return fail("bad vertex index " + a);
        std::pair<float, float> uv{0.0f, 0.0f};
        if (*end == '/' && end[1] != '/' && end[1] != '\0') {
          const char* start = end + 1;
          const long ti = std::strtol(start, &end, 10);
          std::size_t t;
          if (end == start || !resolve(ti, uvs.size(), t)) return fail("bad texture index " + a);
          uv = uvs[t];
        }
        corners.push_back({v, uv});
      }
      for (std::size_t k = 1; k + 1 < corners.size(); ++k) {
        if (out.faces.size() == 65535) return fail("more than 65535 triangles");
        // Reversed winding: z was negated.
        const std::size_t order[3] = {0, k + 1, k};
        ModelData::Face f{};
        for (int c = 0; c < 3; ++c) {
          f.index[c] = std::uint16_t(corners[order[c]].first);
          f.uv[c][0] = std::int32_t(corners[order[c]].second.first * 65536.0f);
          f.uv[c][1] = std::int32_t(corners[order[c]].second.second * 65536.0f);
        }
        f.group = std::uint8_t(group < 0 ? 0 : group);
        out.faces.push_back(f);
      }
    }
    // Normals, smoothing groups, objects and material libraries are not
    // needed: the renderer computes its own normals.
  }
  // A file without faces converts into nothing a game can draw: refused, so
  // that a wrong input (a model file, a material library, any other text)
  // never becomes an empty model.
  if (out.vertices.empty() || out.faces.empty()) {
    error = out.vertices.empty() ? "no vertices ('v' lines): not a Wavefront OBJ model"
                                 : "no faces ('f' lines): not a Wavefront OBJ model";
    return false;
  }
  if (groups.empty()) groups.push_back("");
  float r2 = 0;
  for (const Vec3& v : out.vertices) r2 = std::max(r2, v.x * v.x + v.y * v.y + v.z * v.z);
  out.radius = std::sqrt(r2);
  if (!std::isfinite(out.radius)) return fail("coordinates too large");
  return true;
}

std::string describe_model(const ModelData& m) {
  std::ostringstream s;
  s << m.vertices.size() << " vertices, " << m.faces.size() << " faces, radius " << m.radius
    << "\n";
  if (!m.vertices.empty()) {
    Vec3 lo = m.vertices[0], hi = m.vertices[0];
    for (const Vec3& v : m.vertices) {
      lo = Vec3{std::min(lo.x, v.x), std::min(lo.y, v.y), std::min(lo.z, v.z)};
      hi = Vec3{std::max(hi.x, v.x), std::max(hi.y, v.y), std::max(hi.z, v.z)};
    }
    s << "bounds x " << lo.x << " .. " << hi.x << ", y " << lo.y << " .. " << hi.y << ", z " << lo.z
      << " .. " << hi.z << "\n";
  }
  std::map<int, std::size_t> groups;
  for (const ModelData::Face& f : m.faces) groups[f.group]++;
  for (const auto& [g, n] : groups) s << "group " << g << ": " << n << " faces\n";
  return s.str();
}

int run_model_tool(int argc, char** argv) {
  if (argc == 2) {
    std::string bytes;
    if (!read_input(argv[1], bytes)) return 1;
    ModelData m;
    std::string why;
    if (!parse_model(bytes, m, &why)) {
      std::fprintf(stderr, "model: %s is not a model file: %s\n", argv[1], why.c_str());
      return 1;
    }
    std::printf("%s: %s", argv[1], describe_model(m).c_str());
    return 0;
  }
  if (argc == 3) {
    std::string text;
    if (!read_input(argv[1], text)) return 1;
    ModelData m;
    std::vector<std::string> groups;
    std::string why;
    if (parse_model(text, m)) {
      std::fprintf(stderr,
                   "model: %s is a model file already; the converter reads Wavefront OBJ text\n",
                   argv[1]);
      return 1;
    }
    if (!looks_like_text(text)) {
      std::fprintf(stderr, "model: %s is not Wavefront OBJ text (it holds binary data)\n", argv[1]);
      return 1;
    }
    if (!convert_obj(text, m, groups, why)) {
      std::fprintf(stderr, "model: %s: %s\n", argv[1], why.c_str());
      return 1;
    }
    // Written whole or not at all: a failed write leaves no partial file.
    std::string write_error;
    if (!write_file_atomic(argv[2], encode_model(m), &write_error)) {
      std::fprintf(stderr, "model: cannot write %s: %s\n", argv[2], write_error.c_str());
      return 1;
    }
    std::printf("%s: %s", argv[2], describe_model(m).c_str());
    for (std::size_t g = 0; g < groups.size(); ++g)
      std::printf("material %s -> group %zu\n", groups[g].empty() ? "(none)" : groups[g].c_str(),
                  g);
    return 0;
  }
  std::fprintf(stderr, "usage: talven model IN.obj OUT | talven model FILE\n");
  return 2;
}

}  // namespace talven::graphics::render3d
