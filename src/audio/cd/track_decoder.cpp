#include "audio/cd/track_decoder.h"

#include "audio/ffmpeg_api.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace talven::audio::cd {

struct TrackDecoder::Impl {
  AVFormatContext* format = nullptr;
  AVCodecContext* codec = nullptr;
  SwrContext* resampler = nullptr;
  AVPacket* packet = nullptr;
  AVFrame* frame = nullptr;
  int stream = -1;
  std::vector<float> pending;  // converted frames not yet handed out (stereo)
  std::size_t pending_at = 0;
  bool ended = false;
  int failures = 0;

  ~Impl() {
    ff::av_frame_free(&frame);
    ff::av_packet_free(&packet);
    ff::swr_free(&resampler);
    ff::avcodec_free_context(&codec);
    ff::avformat_close_input(&format);
  }
};

TrackDecoder::~TrackDecoder() = default;

std::unique_ptr<TrackDecoder> TrackDecoder::open(const std::string& host_path) {
  if (!ff::available()) return nullptr;
  auto d = std::unique_ptr<TrackDecoder>(new TrackDecoder);
  d->impl_ = std::make_unique<Impl>();
  Impl& m = *d->impl_;
  if (ff::avformat_open_input(&m.format, host_path.c_str(), nullptr, nullptr) < 0) return nullptr;
  if (ff::avformat_find_stream_info(m.format, nullptr) < 0) return nullptr;
  const AVCodec* codec = nullptr;
  m.stream = ff::av_find_best_stream(m.format, AVMEDIA_TYPE_AUDIO, -1, -1, &codec, 0);
  if (m.stream < 0 || !codec) return nullptr;
  m.codec = ff::avcodec_alloc_context3(codec);
  if (!m.codec ||
      ff::avcodec_parameters_to_context(m.codec, m.format->streams[m.stream]->codecpar) < 0)
    return nullptr;
  if (ff::avcodec_open2(m.codec, codec, nullptr) < 0) return nullptr;
  if (m.codec->ch_layout.nb_channels <= 0 || m.codec->sample_rate <= 0) return nullptr;
  AVChannelLayout stereo = AV_CHANNEL_LAYOUT_STEREO;
  if (ff::swr_alloc_set_opts2(&m.resampler, &stereo, AV_SAMPLE_FMT_FLT, kTrackRate,
                              &m.codec->ch_layout, m.codec->sample_fmt, m.codec->sample_rate, 0,
                              nullptr) < 0 ||
      ff::swr_init(m.resampler) < 0)
    return nullptr;
  m.packet = ff::av_packet_alloc();
  m.frame = ff::av_frame_alloc();
  if (!m.packet || !m.frame) return nullptr;
  const AVStream* s = m.format->streams[m.stream];
  if (s->duration != AV_NOPTS_VALUE && s->time_base.den > 0)
    d->duration_ = double(s->duration) * s->time_base.num / s->time_base.den;
  else if (m.format->duration != AV_NOPTS_VALUE)
    d->duration_ = double(m.format->duration) / AV_TIME_BASE;
  if (!(d->duration_ > 0)) d->duration_ = 0;
  return d;
}

// Decodes the next frame of sound into `pending`; false at the end.
bool TrackDecoder::refill() {
  Impl& m = *impl_;
  while (!m.ended) {
    int r = ff::avcodec_receive_frame(m.codec, m.frame);
    if (r == 0) {
      const int out_max = ff::swr_get_out_samples(m.resampler, m.frame->nb_samples);
      if (out_max <= 0) continue;
      m.pending.assign(std::size_t(out_max) * 2, 0.0f);
      std::uint8_t* out[1] = {reinterpret_cast<std::uint8_t*>(m.pending.data())};
      const int got = ff::swr_convert(m.resampler, out, out_max,
                                      const_cast<const std::uint8_t**>(m.frame->extended_data),
                                      m.frame->nb_samples);
      m.pending.resize(got > 0 ? std::size_t(got) * 2 : 0);
      m.pending_at = 0;
      if (!m.pending.empty()) return true;
      continue;
    }
    if (r == AVERROR_EOF) {
      m.ended = true;
      break;
    }
    if (r != AVERROR(EAGAIN)) {
      // A damaged stream: a few bad frames are skipped, a stream that keeps
      // failing ends.
      if (++m.failures > 32) m.ended = true;
    }
    // Feed the decoder.
    r = ff::av_read_frame(m.format, m.packet);
    if (r < 0) {
      ff::avcodec_send_packet(m.codec, nullptr);  // drain
      continue;
    }
    if (m.packet->stream_index == m.stream && ff::avcodec_send_packet(m.codec, m.packet) < 0)
      ++m.failures;
    ff::av_packet_unref(m.packet);
    if (m.failures > 32) m.ended = true;
  }
  // What the resampler still holds.
  m.pending.assign(4096 * 2, 0.0f);
  std::uint8_t* out[1] = {reinterpret_cast<std::uint8_t*>(m.pending.data())};
  const int got = ff::swr_convert(m.resampler, out, 4096, nullptr, 0);
  m.pending.resize(got > 0 ? std::size_t(got) * 2 : 0);
  m.pending_at = 0;
  return !m.pending.empty();
}

std::size_t TrackDecoder::read(float* out, std::size_t frames) {
  Impl& m = *impl_;
  std::size_t done = 0;
  while (done < frames) {
    if (m.pending_at >= m.pending.size() && !refill()) break;
    const std::size_t n = std::min(frames - done, (m.pending.size() - m.pending_at) / 2);
    std::memcpy(out + done * 2, m.pending.data() + m.pending_at, n * 2 * sizeof(float));
    m.pending_at += n * 2;
    done += n;
  }
  return done;
}

bool TrackDecoder::seek(double seconds) {
  Impl& m = *impl_;
  const AVStream* s = m.format->streams[m.stream];
  const std::int64_t ts = std::int64_t(seconds * s->time_base.den / std::max(1, s->time_base.num));
  if (ff::av_seek_frame(m.format, m.stream, ts, AVSEEK_FLAG_BACKWARD) < 0) return false;
  ff::avcodec_flush_buffers(m.codec);
  m.pending.clear();
  m.pending_at = 0;
  m.ended = false;
  m.failures = 0;
  return true;
}

}  // namespace talven::audio::cd
