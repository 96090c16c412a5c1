// FFmpeg for the media and CD devices, loaded on first use
// (audio/shared_library.h). Code calls ff::name(...) for every FFmpeg
// function, after ff::available() said yes.
#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include <string>

namespace talven::audio::ff {

// clang-format off
#define TALVEN_FFMPEG_FUNCTIONS(X)                                                                              \
  X(av_find_best_stream) X(av_frame_alloc) X(av_frame_clone) X(av_frame_free) X(av_frame_ref) X(av_frame_unref) \
  X(av_log_set_level) X(av_packet_alloc) X(av_packet_free) X(av_packet_unref) X(av_read_frame) X(av_seek_frame) \
  X(avcodec_alloc_context3) X(avcodec_find_decoder) X(avcodec_flush_buffers) X(avcodec_free_context)           \
  X(avcodec_open2) X(avcodec_parameters_to_context) X(avcodec_receive_frame) X(avcodec_send_packet)            \
  X(avformat_close_input) X(avformat_find_stream_info) X(avformat_open_input) X(swr_alloc_set_opts2)           \
  X(swr_convert) X(swr_free) X(swr_get_out_samples) X(swr_init) X(sws_freeContext) X(sws_getCachedContext)      \
  X(sws_scale)
// clang-format on

struct Api {
#define TALVEN_FF_MEMBER(name) decltype(&::name) name;
  TALVEN_FFMPEG_FUNCTIONS(TALVEN_FF_MEMBER)
#undef TALVEN_FF_MEMBER
};

// The functions, loaded on the first call (thread-safe); nullptr when the
// libraries cannot be loaded, with the reason in *why.
const Api* api(std::string* why = nullptr);
inline bool available() { return api() != nullptr; }

#define TALVEN_FF_CALL(name) \
  template <typename... Args> \
  inline auto name(Args... args) { \
    return api()->name(args...); \
  }
TALVEN_FFMPEG_FUNCTIONS(TALVEN_FF_CALL)
#undef TALVEN_FF_CALL

}  // namespace talven::audio::ff
