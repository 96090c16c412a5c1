// The windowed presentation backend: frames that `update` hands over on a
// script thread are copied (changed rows only) into a staging buffer, and
// the main thread uploads them into a streaming texture and draws it,
// scaled to the window (letterboxed in full screen with a fixed aspect
// ratio) or 1:1 for the unscaled mode.
#pragma once

#include <cstdint>
#include <mutex>
#include <vector>

#include "graphics/present/backend.h"

struct SDL_Texture;

namespace talven {

class SdlPresent : public graphics::PresentBackend {
 public:
  ~SdlPresent() override;
  // Any thread: stage the changed part and ask the main thread to draw.
  void present(const std::uint32_t* frame, int width, int height,
               const graphics::FrameRegion& changed) override;
  // Main thread: upload what was staged and draw.
  void render();
  // Main thread: draw again from the whole staged frame (expose, resize,
  // mode switch, a lost render target).
  void repaint();
  // Main thread: drop the texture (before the renderer goes).
  void release();

 private:
  void draw();

  std::mutex mutex_;
  std::vector<std::uint32_t> staging_;
  int width_ = 0, height_ = 0;
  graphics::FrameRegion dirty_{0, 0, 0, 0};
  bool has_dirty_ = false;
  SDL_Texture* texture_ = nullptr;
  int texture_w_ = 0, texture_h_ = 0;
  bool texture_failed_ = false;  // reported once until a texture is made again
};

}  // namespace talven
