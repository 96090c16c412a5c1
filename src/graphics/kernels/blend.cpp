// The blend kernels: one template per (mode, family, source depth,
// destination depth), collected into the plain and masked family tables,
// and the mode preparation shared by every copy.
#include <array>
#include <cstring>
#include <utility>

#include "graphics/kernels/kernels.h"
#include "graphics/kernels/tables.h"
#include "base/config.h"

namespace talven::graphics {

namespace {

// One pixel as channels; alpha 255 where the format has none.
struct Px {
  int b, g, r, a;
};

template <int SB>
inline Px read_src(const KernelContext& c, const std::uint8_t* s) {
  if constexpr (SB == 1) {
    if (c.grey) return Px{s[0], s[0], s[0], 255};
    const std::uint8_t* e = c.src_colors + 4 * s[0];
    return Px{e[0], e[1], e[2], 255};
  } else if constexpr (SB == 2) {
    std::uint32_t v = c.expand15[(s[0] | s[1] << 8) & 0x7FFF];
    return Px{int(v & 0xFF), int((v >> 8) & 0xFF), int(v >> 16), 255};
  } else if constexpr (SB == 3) {
    return Px{s[0], s[1], s[2], 255};
  } else {
    return Px{s[0], s[1], s[2], s[3]};
  }
}

template <int DB>
inline Px read_dst(const KernelContext& c, const std::uint8_t* d) {
  if constexpr (DB == 1) {
    if (c.grey) return Px{d[0], d[0], d[0], 255};
    const std::uint8_t* e = c.dst_colors + 4 * d[0];
    return Px{e[0], e[1], e[2], 255};
  } else {
    return read_src<DB>(c, d);
  }
}

// Writes colour and, for 32-bit destinations, alpha.
template <int DB>
inline void write_all(const KernelContext& c, std::uint8_t* d, const Px& p) {
  if constexpr (DB == 1) {
    d[0] = c.grey ? std::uint8_t(p.b) : c.icm[(p.r >> 3) << 10 | (p.g >> 3) << 5 | (p.b >> 3)];
  } else if constexpr (DB == 2) {
    std::uint16_t v = std::uint16_t((p.r >> 3) << 10 | (p.g >> 3) << 5 | (p.b >> 3));
    d[0] = std::uint8_t(v);
    d[1] = std::uint8_t(v >> 8);
  } else {
    d[0] = std::uint8_t(p.b);
    d[1] = std::uint8_t(p.g);
    d[2] = std::uint8_t(p.r);
    if constexpr (DB == 4) d[3] = std::uint8_t(p.a);
  }
}

// Writes colour only; a 32-bit destination keeps its alpha.
template <int DB>
inline void write_rgb(const KernelContext& c, std::uint8_t* d, const Px& p) {
  if constexpr (DB == 4) {
    d[0] = std::uint8_t(p.b);
    d[1] = std::uint8_t(p.g);
    d[2] = std::uint8_t(p.r);
  } else {
    write_all<DB>(c, d, p);
  }
}

inline int mix(const KernelTables& t, int x, int y, int w) {
  return t.mul[w][x] + t.mul[255 - w][y];
}

inline std::uint32_t rgb_of(const Px& p) {
  return std::uint32_t(p.r) << 16 | std::uint32_t(p.g) << 8 | std::uint32_t(p.b);
}

// Alpha layering of T (alpha a, 0 < a) over D.
template <int DB>
inline void layer(const KernelTables& t, const KernelContext& c, std::uint8_t* d, const Px& s,
                  int a) {
  if (a == 255) {
    write_all<DB>(c, d, Px{s.b, s.g, s.r, 255});
    return;
  }
  if (a == 0) return;
  Px dp = read_dst<DB>(c, d);
  int w = t.over[a][dp.a];
  write_all<DB>(
      c, d,
      Px{mix(t, s.b, dp.b, w), mix(t, s.g, dp.g, w), mix(t, s.r, dp.r, w), t.screen[a][dp.a]});
}

template <Blend MODE, bool MASKED, int SB, int DB>
void kernel(const KernelContext& c, std::uint8_t* d, const std::uint8_t* s, const std::uint8_t* m,
            int n) {
  const KernelTables& t = kernel_tables();
  for (int i = 0; i < n; ++i, d += DB, s += SB) {
    int alpha = 255;
    if constexpr (MASKED) {
      alpha = *m;
      m += c.mask_step;
    }
    if constexpr (MODE == Blend::kCopy) {
      if constexpr (SB == DB && SB != 1) {
        std::memcpy(d, s, SB);
      } else {
        write_all<DB>(c, d, read_src<SB>(c, s));
      }
    } else if constexpr (MODE == Blend::kSourceKey) {
      bool differs = SB == 1 ? s[0] != c.key : rgb_of(read_src<SB>(c, s)) != c.key;
      if (differs) write_rgb<DB>(c, d, read_src<SB>(c, s));
    } else if constexpr (MODE == Blend::kDestinationKey) {
      bool equal = DB == 1 ? d[0] == c.key : rgb_of(read_dst<DB>(c, d)) == c.key;
      if (equal) write_rgb<DB>(c, d, read_src<SB>(c, s));
    } else if constexpr (MODE == Blend::kConstantAlpha) {
      Px sp = read_src<SB>(c, s), dp = read_dst<DB>(c, d);
      int o = c.opacity;
      write_all<DB>(c, d,
                    Px{mix(t, sp.b, dp.b, o), mix(t, sp.g, dp.g, o), mix(t, sp.r, dp.r, o),
                       mix(t, sp.a, dp.a, o)});
    } else if constexpr (MODE == Blend::kOperator) {
      Px sp = read_src<SB>(c, s);
      int a = t.mul[sp.a][c.opacity];
      if (a > 0) {
        Px dp = read_dst<DB>(c, d);
        write_rgb<DB>(c, d,
                      Px{mix(t, c.op[sp.b][dp.b], dp.b, a), mix(t, c.op[sp.g][dp.g], dp.g, a),
                         mix(t, c.op[sp.r][dp.r], dp.r, a), dp.a});
      }
    } else if constexpr (MODE == Blend::kAlphaLayering) {
      Px sp = read_src<SB>(c, s);
      if constexpr (!MASKED) alpha = sp.a;
      layer<DB>(t, c, d, sp, t.mul[alpha][c.opacity]);
    } else if constexpr (MODE == Blend::kTintedLayering) {
      Px sp = read_src<SB>(c, s);
      if constexpr (!MASKED) alpha = sp.a;
      int a = t.mul[alpha][c.opacity];
      if (a == 0) continue;
      int e = c.extra;
      Px tp{mix(t, c.op[c.color[0]][sp.b], sp.b, e), mix(t, c.op[c.color[1]][sp.g], sp.g, e),
            mix(t, c.op[c.color[2]][sp.r], sp.r, e), sp.a};
      layer<DB>(t, c, d, tp, a);
    } else if constexpr (MODE == Blend::kAlphaWindow) {
      if constexpr (!MASKED) alpha = s[3];
      if (std::uint32_t(alpha - c.opacity) <= c.extra) write_rgb<DB>(c, d, read_src<SB>(c, s));
    } else if constexpr (MODE == Blend::kThresholdWipe) {
      if constexpr (!MASKED) alpha = s[3];
      int w = c.ramp[alpha];
      if (w == 255) {
        write_rgb<DB>(c, d, read_src<SB>(c, s));
      } else if (w > 0) {
        Px sp = read_src<SB>(c, s), dp = read_dst<DB>(c, d);
        write_rgb<DB>(
            c, d, Px{mix(t, sp.b, dp.b, w), mix(t, sp.g, dp.g, w), mix(t, sp.r, dp.r, w), dp.a});
      }
    } else if constexpr (MODE == Blend::kChannelCopy) {
      Px sp = read_src<SB>(c, s), dp = read_dst<DB>(c, d);
      const int ch[4] = {sp.b, sp.g, sp.r, sp.a};
      int o = c.opacity, sel = c.selectors;
      std::uint32_t nw = std::uint32_t(mix(t, ch[sel & 3], dp.b, o)) |
                         std::uint32_t(mix(t, ch[(sel >> 2) & 3], dp.g, o)) << 8 |
                         std::uint32_t(mix(t, ch[sel & 3], dp.r, o)) << 16 |
                         std::uint32_t(mix(t, ch[(sel >> 6) & 3], dp.a, o)) << 24;
      std::uint32_t dw = std::uint32_t(dp.b) | std::uint32_t(dp.g) << 8 |
                         std::uint32_t(dp.r) << 16 | std::uint32_t(dp.a) << 24;
      std::uint32_t r = (dw & ~c.param1) | (nw & c.param1);
      write_all<DB>(c, d,
                    Px{int(r & 0xFF), int((r >> 8) & 0xFF), int((r >> 16) & 0xFF), int(r >> 24)});
    } else if constexpr (MODE == Blend::kAlphaTransfer) {
      // Alpha bytes: the fourth byte of 32-bit pixels, the whole byte of
      // 8-bit pixels (alpha maps).
      d[DB - 1] = t.mul[s[SB - 1]][c.opacity];
    } else if constexpr (MODE == Blend::kCoverageColour) {
      int a = t.mul[s[0]][c.opacity];
      if (a == 0) continue;
      Px dp = read_dst<DB>(c, d);
      Px tp{c.op[c.color[0]][dp.b], c.op[c.color[1]][dp.g], c.op[c.color[2]][dp.r], 255};
      layer<DB>(t, c, d, tp, a);
    } else if constexpr (MODE == Blend::kTintedGrey) {
      Px sp = read_src<SB>(c, s);
      if constexpr (!MASKED) alpha = sp.a;
      int a = t.mul[alpha][c.opacity];
      if (a == 0) continue;
      int y = (19595 * sp.r + 38470 * sp.g + 7471 * sp.b) >> 16;
      int e = c.extra;
      Px tp{mix(t, c.op[c.color[0]][y], y, e), mix(t, c.op[c.color[1]][y], y, e),
            mix(t, c.op[c.color[2]][y], y, e), sp.a};
      layer<DB>(t, c, d, tp, a);
    }
  }
}

// The modes that weigh by an alpha that a mask plane can stand in for.
constexpr bool reads_mask(Blend mode) {
  return mode == Blend::kAlphaLayering || mode == Blend::kTintedLayering ||
         mode == Blend::kAlphaWindow || mode == Blend::kThresholdWipe;
}

template <Blend MODE, bool MASKED, int SB, int DB>
constexpr KernelFn pick() {
  if constexpr (MASKED && !reads_mask(MODE)) {
    return nullptr;
  } else if constexpr (!MASKED && (MODE == Blend::kAlphaWindow || MODE == Blend::kThresholdWipe) &&
                       SB != 4) {
    return nullptr;
  } else if constexpr (MODE == Blend::kAlphaTransfer &&
                       ((SB != 1 && SB != 4) || (DB != 1 && DB != 4))) {
    return nullptr;
  } else if constexpr (MODE == Blend::kCoverageColour && SB != 1) {
    return nullptr;
  } else {
    return &kernel<MODE, MASKED, SB, DB>;
  }
}

template <Blend MODE, bool MASKED, std::size_t... I>
constexpr std::array<KernelFn, 16> family_row(std::index_sequence<I...>) {
  return {pick<MODE, MASKED, int(I / 4) + 1, int(I % 4) + 1>()...};
}

template <bool MASKED, std::size_t... M>
constexpr std::array<std::array<KernelFn, 16>, kModeCount> family(std::index_sequence<M...>) {
  return {family_row<Blend(M), MASKED>(std::make_index_sequence<16>())...};
}

const std::array<std::array<KernelFn, 16>, kModeCount> kPlain =
    family<false>(std::make_index_sequence<kModeCount>());
const std::array<std::array<KernelFn, 16>, kModeCount> kMasked =
    family<true>(std::make_index_sequence<kModeCount>());

std::int32_t g_color_mapping = 0;

// The modes that draw nothing at opacity 0.
bool needs_opacity(Blend mode) {
  return mode == Blend::kConstantAlpha || mode == Blend::kOperator || reads_mask(mode) ||
         mode == Blend::kCoverageColour || mode == Blend::kTintedGrey;
}

// The modes that run an operator table.
bool uses_operator(Blend mode) {
  return mode == Blend::kOperator || mode == Blend::kTintedLayering ||
         mode == Blend::kCoverageColour || mode == Blend::kTintedGrey;
}

bool depth_ok(const Plane* p) {
  return p && (p->bpp == 8 || p->bpp == 16 || p->bpp == 24 || p->bpp == 32);
}

}  // namespace

std::int32_t& color_mapping() { return g_color_mapping; }

bool multithreading() { return config().MultiThreading != 0; }

bool load_blend_mode(Addr addr, BlendMode& out) {
  out = BlendMode{};
  if (!addr) return true;
  const std::uint8_t* p = span(addr, 12);
  if (!p) return false;
  out.mode = p[0];
  out.op = p[1];
  out.opacity = p[2];
  out.extra = p[3];
  std::memcpy(&out.param1, p + 4, 4);
  std::memcpy(&out.param2, p + 8, 4);
  return true;
}

KernelFn find_kernel(Blend mode, bool masked, int src_bytes, int dst_bytes) {
  const int m = int(mode);
  if (m >= kModeCount || src_bytes < 1 || src_bytes > 4 || dst_bytes < 1 || dst_bytes > 4)
    return nullptr;
  return (masked ? kMasked : kPlain)[m][(src_bytes - 1) * 4 + (dst_bytes - 1)];
}

bool prepare_mode(const BlendMode* record, const Plane* dst, const Plane* src, KernelContext& c,
                  bool& uses_mask) {
  BlendMode m = record ? *record : BlendMode{};
  if (!depth_ok(dst) || !depth_ok(src) || m.mode >= kModeCount) return false;
  Blend mode = Blend(m.mode);  // the script's number, checked above
  if (needs_opacity(mode) && m.opacity == 0) return false;
  int op = m.op;
  // Cheaper equivalents: an operator past 13 falls back to the mode without
  // one (the colouring modes to operator 0), full opacity to a plain copy,
  // no tint to plain layering; a channel copy that writes nothing fails.
  if (mode == Blend::kOperator && op > 13) mode = Blend::kConstantAlpha;
  if (mode == Blend::kConstantAlpha && m.opacity == 255) mode = Blend::kCopy;
  if (mode == Blend::kTintedLayering && (m.extra == 0 || op > 13)) mode = Blend::kAlphaLayering;
  if (mode == Blend::kChannelCopy && m.param1 == 0) return false;
  if ((mode == Blend::kCoverageColour || mode == Blend::kTintedGrey) && op > 13) op = 0;

  const KernelTables& t = kernel_tables();
  c = KernelContext{};
  c.mode = mode;
  c.op = uses_operator(mode) ? operator_table(op) : nullptr;
  c.opacity = m.opacity;
  c.extra = m.extra;
  c.selectors = m.op;
  c.param1 = m.param1;
  std::uint32_t color = color_to_rgb(m.param2);
  c.color[0] = std::uint8_t(color);
  c.color[1] = std::uint8_t(color >> 8);
  c.color[2] = std::uint8_t(color >> 16);
  c.src_colors = src->bpp == 8 ? src->colors() : nullptr;
  c.dst_colors = dst->bpp == 8 ? dst->colors() : nullptr;
  c.icm = InverseColorMap().data();
  c.expand15 = t.expand15;
  c.grey = src->bpp == 8 && dst->bpp == 8 && color_mapping() == 0;
  if (mode == Blend::kSourceKey) {
    c.key = src->bpp == 8 ? (color_to_index(m.param1) & 0xFF) : color_to_rgb(m.param1);
  } else if (mode == Blend::kDestinationKey) {
    c.key = dst->bpp == 8 ? (color_to_index(m.param1) & 0xFF) : color_to_rgb(m.param1);
  }
  if (mode == Blend::kThresholdWipe) {
    for (int a = 0; a < 256; ++a) {
      int w;
      if (a < m.opacity) w = 255;
      else if (a >= m.opacity + m.extra) w = 0;
      else w = t.clamp(255 + 255 * (m.opacity - a) / m.extra);
      c.ramp[a] = std::uint8_t(w);
    }
  }
  uses_mask = reads_mask(mode);
  return true;
}

}  // namespace talven::graphics
