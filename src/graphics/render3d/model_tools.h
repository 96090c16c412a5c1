// Tools for game authors: 3D model files.
//
//   model IN.obj OUT    convert a Wavefront OBJ file into a model file
//   model FILE          show a model file's counts, radius, bounds and groups
//
// The converter takes triangles and polygons (split into fans), texture
// coordinates (vt; faces without them get 0, 0) and `usemtl` names, which
// become group numbers 0, 1, 2... in order of first use (the mapping is
// printed). OBJ's right-handed coordinates turn into the renderer's
// left-handed ones by negating z and reversing each face's winding, and v
// is flipped (1 - v) because textures are stored top row first. The
// bounding radius is the largest distance of a vertex from the origin.
// An input that is not OBJ text (binary data, a model file) or that holds no
// vertices or no faces is refused with a non-zero status; the output is
// written whole through a temporary file, so a refusal or a failed write
// never leaves a partial or empty model behind. Paths are host paths (UTF-8).
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "graphics/render3d/model.h"

namespace talven::graphics::render3d {

struct ModelTool {
  const char* name;
  const char* usage;  // arguments after the name
  const char* help;   // one line
};

std::span<const ModelTool> model_tools();
bool is_model_tool(std::string_view name);

// Runs the tool named by argv[0] with argv[1..argc-1]. Returns the process
// exit status: 0 done, 1 failed (reason on standard error), 2 bad usage.
int run_model_tool(int argc, char** argv);

// The converter itself: false with `error` set (with the line number) when
// the text cannot be converted, or when it holds no vertices or no faces. `groups` receives the
// material names in group order.
bool convert_obj(std::string_view text, ModelData& out, std::vector<std::string>& groups,
                 std::string& error);
// The summary `model FILE` prints.
std::string describe_model(const ModelData& model);

}  // namespace talven::graphics::render3d
