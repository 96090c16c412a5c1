#include "app/sdl_present.h"

#include <SDL.h>

#include <algorithm>
#include <cstring>

#include "graphics/present/pages.h"
#include "base/config.h"
#include "base/messages.h"
#include "host/window.h"

namespace talven {

SdlPresent::~SdlPresent() { release(); }

void SdlPresent::present(const std::uint32_t* frame, int width, int height,
                         const graphics::FrameRegion& changed) {
  if (!frame || width <= 0 || height <= 0) return;
  {
    std::lock_guard lock(mutex_);
    graphics::FrameRegion r = changed;
    if (width != width_ || height != height_) {
      staging_.assign(static_cast<std::size_t>(width) * height, 0);
      width_ = width;
      height_ = height;
      r = {0, 0, width, height};
      has_dirty_ = false;
    }
    r.left = std::clamp(r.left, 0, width);
    r.right = std::clamp(r.right, 0, width);
    r.top = std::clamp(r.top, 0, height);
    r.bottom = std::clamp(r.bottom, 0, height);
    if (r.left >= r.right || r.top >= r.bottom) return;
    const std::size_t row_bytes = static_cast<std::size_t>(r.right - r.left) * 4;
    for (int y = r.top; y < r.bottom; ++y) {
      const std::size_t at = static_cast<std::size_t>(y) * width + r.left;
      std::memcpy(&staging_[at], frame + at, row_bytes);
    }
    if (has_dirty_) {
      dirty_.left = std::min(dirty_.left, r.left);
      dirty_.top = std::min(dirty_.top, r.top);
      dirty_.right = std::max(dirty_.right, r.right);
      dirty_.bottom = std::max(dirty_.bottom, r.bottom);
    } else {
      dirty_ = r;
      has_dirty_ = true;
    }
  }
  host::post_present();
}

void SdlPresent::render() {
  SDL_Renderer* renderer = host::main_renderer();
  if (!renderer) return;
  {
    std::lock_guard lock(mutex_);
    if (width_ > 0 && (!texture_ || texture_w_ != width_ || texture_h_ != height_)) {
      if (texture_) SDL_DestroyTexture(texture_);
      texture_ = SDL_CreateTexture(renderer, SDL_PIXELFORMAT_RGB888, SDL_TEXTUREACCESS_STREAMING,
                                   width_, height_);
      texture_w_ = texture_ ? width_ : 0;
      texture_h_ = texture_ ? height_ : 0;
      if (!texture_ && !texture_failed_) report_message(1, "テクスチャの生成に失敗しました");
      texture_failed_ = !texture_;
      if (texture_) {
        SDL_SetTextureScaleMode(texture_,
                                config().Direct3D ? SDL_ScaleModeLinear : SDL_ScaleModeNearest);
        dirty_ = {0, 0, width_, height_};
        has_dirty_ = true;
      }
    }
    if (texture_ && has_dirty_) {
      SDL_Rect r{dirty_.left, dirty_.top, dirty_.right - dirty_.left, dirty_.bottom - dirty_.top};
      SDL_UpdateTexture(texture_, &r,
                        &staging_[static_cast<std::size_t>(dirty_.top) * width_ + dirty_.left],
                        width_ * 4);
      has_dirty_ = false;
    }
  }
  draw();
}

void SdlPresent::repaint() {
  {
    std::lock_guard lock(mutex_);
    if (width_ > 0) {
      dirty_ = {0, 0, width_, height_};
      has_dirty_ = true;
    }
  }
  render();
}

void SdlPresent::draw() {
  SDL_Renderer* renderer = host::main_renderer();
  if (!renderer) return;
  SDL_SetRenderDrawColor(renderer, 0, 0, 0, 255);
  SDL_RenderClear(renderer);
  if (texture_) {
    const Config& c = config();
    int cw = 0, ch = 0;
    host::main_client_size(cw, ch);
    graphics::DestRect d =
        graphics::presented_rect(texture_w_, texture_h_, cw, ch, c.Direct3D != 0,
                                 host::is_full_screen(), c.FixedAspectRatio != 0);
    SDL_Rect dst{d.left, d.top, d.width, d.height};
    SDL_RenderCopy(renderer, texture_, nullptr, &dst);
  }
  host::draw_message_overlay();  // a message shown in the window stays on top
  SDL_RenderPresent(renderer);
}

void SdlPresent::release() {
  std::lock_guard lock(mutex_);
  if (texture_) SDL_DestroyTexture(texture_);
  texture_ = nullptr;
  texture_w_ = texture_h_ = 0;
}

}  // namespace talven
