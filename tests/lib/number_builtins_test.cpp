// Number builtins through their argument words: float words in and out,
// the generator, keyframes in script memory, noise from the start-up
// table, checksums and rectangles.
#include "lib/number_builtins.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "builtin_call.h"
#include "lib/rect_builtins.h"

namespace talven::lib {
namespace {

using test::bad_address;
using test::bind;
using test::block;
using test::bytes_at;
using test::call;
using test::fw;
using test::put;
using test::text_at;
using test::wf;

std::int32_t icall(runtime::BuiltinBinding b, std::initializer_list<std::uint32_t> words) {
  return static_cast<std::int32_t>(call(b, words));
}

std::uint32_t neg(std::int32_t v) { return static_cast<std::uint32_t>(v); }

TEST(NumberBuiltins, TableTrigonometryAndIntegers) {
  EXPECT_EQ(icall(bind<&bi_tsin>, {512}), 65536);
  EXPECT_EQ(icall(bind<&bi_tsin>, {256}), 46340);
  EXPECT_EQ(icall(bind<&bi_tsin>, {1024}), 0);
  EXPECT_EQ(icall(bind<&bi_tsin>, {1536}), -65536);
  EXPECT_EQ(icall(bind<&bi_tsin>, {neg(-512)}), -65536);
  EXPECT_EQ(icall(bind<&bi_tcos>, {0}), 65536);
  EXPECT_EQ(icall(bind<&bi_tatan>, {1, 1}), 256);
  EXPECT_EQ(icall(bind<&bi_tatan>, {neg(-1), 1}), 768);
  EXPECT_EQ(icall(bind<&bi_tatan>, {neg(-3), 0}), 1024);
  EXPECT_EQ(icall(bind<&bi_tatan>, {0, neg(-5)}), 1536);
  EXPECT_EQ(icall(bind<&bi_tatan>, {0, 0}), 0);

  EXPECT_EQ(icall(bind<&bi_abs>, {neg(-5)}), 5);
  EXPECT_EQ(call(bind<&bi_abs>, {0x80000000u}), 0x80000000u);
  EXPECT_EQ(icall(bind<&bi_sgn>, {neg(-9)}), -1);
  EXPECT_EQ(icall(bind<&bi_sgn>, {0}), 0);
  EXPECT_EQ(icall(bind<&bi_sgn>, {9}), 1);
}

TEST(NumberBuiltins, GeneratorSeedsAndRanges) {
  EXPECT_EQ(call(bind<&bi_srand>, {1}), 1u);
  std::uint32_t a = call(bind<&bi_rand>, {}), b = call(bind<&bi_rand>, {});
  call(bind<&bi_srand>, {1});
  EXPECT_EQ(call(bind<&bi_rand>, {}), a);
  EXPECT_EQ(call(bind<&bi_rand>, {}), b);
  EXPECT_NE(a, b);
  EXPECT_LE(a, 0x7FFFFFFFu);
  // The generator with the 1998 seeding gives 1408678373, 1864909143 for
  // seed 1 (top bits cleared).
  EXPECT_EQ(a, 1408678373u);
  EXPECT_EQ(b, 1864909143u);

  // Seed 0 takes the clock: not the sequence of seed 1.
  call(bind<&bi_srand>, {0});
  for (int i = 0; i < 1000; ++i) {
    float r = wf(call(bind<&bi_random>, {}));
    ASSERT_GE(r, 0.0f);
    ASSERT_LE(r, 1.0f);
  }
}

TEST(NumberBuiltins, FloatFunctionsRoundToFloat) {
  EXPECT_EQ(wf(call(bind<&bi_sqrt>, {fw(2.0f)})), static_cast<float>(std::sqrt(2.0)));
  EXPECT_EQ(wf(call(bind<&bi_fabs>, {fw(-2.5f)})), 2.5f);
  EXPECT_EQ(wf(call(bind<&bi_pow>, {fw(2.0f), fw(10.0f)})), 1024.0f);
  EXPECT_EQ(wf(call(bind<&bi_floor>, {fw(-1.5f)})), -2.0f);
  EXPECT_EQ(wf(call(bind<&bi_ceil>, {fw(-1.5f)})), -1.0f);
  EXPECT_EQ(wf(call(bind<&bi_log>, {fw(1.0f)})), 0.0f);
  EXPECT_EQ(wf(call(bind<&bi_exp>, {fw(0.0f)})), 1.0f);
  EXPECT_EQ(wf(call(bind<&bi_sin>, {fw(0.5f)})), static_cast<float>(std::sin(0.5)));
  EXPECT_EQ(wf(call(bind<&bi_cos>, {fw(0.5f)})), static_cast<float>(std::cos(0.5)));
  EXPECT_EQ(wf(call(bind<&bi_tan>, {fw(0.5f)})), static_cast<float>(std::tan(0.5)));
  EXPECT_EQ(wf(call(bind<&bi_asin>, {fw(1.0f)})), static_cast<float>(std::numbers::pi / 2));
  EXPECT_EQ(wf(call(bind<&bi_acos>, {fw(-1.0f)})), static_cast<float>(std::numbers::pi));
  // atan takes y first: atan2(y, x).
  EXPECT_EQ(wf(call(bind<&bi_atan>, {fw(1.0f), fw(0.0f)})),
            static_cast<float>(std::numbers::pi / 2));
  EXPECT_EQ(wf(call(bind<&bi_atan>, {fw(0.0f), fw(-1.0f)})), static_cast<float>(std::numbers::pi));
  EXPECT_TRUE(std::isnan(wf(call(bind<&bi_sqrt>, {fw(-1.0f)}))));

  Addr buf = block(64);
  EXPECT_EQ(call(bind<&bi_ftoa>, {buf, fw(1.5f)}), 1u);
  EXPECT_EQ(text_at(buf), "1.500000");
  call(bind<&bi_ftoa>, {buf, fw(-0.1f)});
  EXPECT_EQ(text_at(buf), "-0.100000");
  EXPECT_EQ(call(bind<&bi_ftoa>, {bad_address(), fw(1.0f)}), 0u);
}

TEST(NumberBuiltins, Interpolation) {
  EXPECT_EQ(wf(call(bind<&bi_linear>, {fw(10), fw(20), fw(0.25f)})), 12.5f);
  EXPECT_EQ(wf(call(bind<&bi_bezier>, {fw(0), fw(10), fw(0), fw(0.5f)})), 5.0f);
  // The quadratic through (0, 0), (0.5, 1), (1, 4) is 4t^2.
  EXPECT_EQ(wf(call(bind<&bi_neville>, {fw(0), fw(1), fw(4), fw(0.25f)})), 0.25f);
  EXPECT_EQ(wf(call(bind<&bi_neville>, {fw(0), fw(1), fw(4), fw(1.0f)})), 4.0f);
}

TEST(NumberBuiltins, KeyframesInScriptMemory) {
  Addr keys = block(16 * 3, 0);
  EXPECT_EQ(call(bind<&bi_kf_setkey>, {keys, fw(0), fw(10)}), 1u);
  EXPECT_EQ(call(bind<&bi_kf_setkey>, {keys + 16, fw(2), fw(20)}), 1u);
  EXPECT_EQ(wf(call(bind<&bi_kf_getkey>, {keys, 2, fw(1.0f), 1})), 15.0f);
  EXPECT_EQ(icall(bind<&bi_kf_getindex>, {keys, 2, fw(1.0f)}), 0);
  EXPECT_EQ(icall(bind<&bi_kf_getindex>, {keys, 2, fw(2.0f)}), -1);  // at the last key
  EXPECT_EQ(icall(bind<&bi_kf_getindex>, {keys, 2, fw(-1.0f)}), -1);
  EXPECT_EQ(wf(call(bind<&bi_kf_getkey>, {keys, 2, fw(5.0f), 1})), 20.0f);

  // Equal values: every mode gives that value.
  call(bind<&bi_kf_setkey>, {keys, fw(0), fw(7)});
  call(bind<&bi_kf_setkey>, {keys + 16, fw(1), fw(7)});
  call(bind<&bi_kf_setkey>, {keys + 32, fw(3), fw(7)});
  EXPECT_EQ(call(bind<&bi_kf_calc>, {keys, 3}), 1u);
  for (std::uint32_t mode = 0; mode <= 9; ++mode) {
    EXPECT_EQ(wf(call(bind<&bi_kf_getkey>, {keys, 3, fw(0.5f), mode})), 7.0f) << mode;
    EXPECT_EQ(wf(call(bind<&bi_kf_getkey>, {keys, 3, fw(2.0f), mode})), 7.0f) << mode;
  }
  EXPECT_EQ(wf(call(bind<&bi_kf_getkey>, {keys, 3, fw(0.5f), 10})), 0.0f);

  // Mode 4: the Newton polynomial through (0,0), (1,1), (2,4) is x^2; the
  // coefficients land in the records.
  call(bind<&bi_kf_setkey>, {keys, fw(0), fw(0)});
  call(bind<&bi_kf_setkey>, {keys + 16, fw(1), fw(1)});
  call(bind<&bi_kf_setkey>, {keys + 32, fw(2), fw(4)});
  call(bind<&bi_kf_calc>, {keys, 3});
  EXPECT_EQ(wf(*load32(keys + 8)), 0.0f);
  EXPECT_EQ(wf(*load32(keys + 24)), 1.0f);
  EXPECT_EQ(wf(*load32(keys + 40)), 1.0f);
  EXPECT_EQ(wf(call(bind<&bi_kf_getkey>, {keys, 3, fw(1.5f), 4})), 2.25f);

  // Null or unreachable keys.
  EXPECT_EQ(call(bind<&bi_kf_getkey>, {0, 3, fw(1.0f), 1}), 0u);
  EXPECT_EQ(call(bind<&bi_kf_getkey>, {keys, 0, fw(1.0f), 1}), 0u);
  EXPECT_EQ(icall(bind<&bi_kf_getindex>, {0, 3, fw(1.0f)}), -1);
  EXPECT_EQ(call(bind<&bi_kf_calc>, {bad_address(), 3}), 0u);
  EXPECT_EQ(call(bind<&bi_kf_calc>, {keys, 0x7FFFFFFF}), 0u);
  EXPECT_EQ(call(bind<&bi_kf_setkey>, {0, fw(1), fw(1)}), 0u);
}

TEST(NumberBuiltins, NoiseComesFromTheSelfSeededTable) {
  EXPECT_EQ(call(bind<&bi_perlin_init>, {4, fw(0.5f)}), 1u);
  // At the origin every octave reads table entry 0, the first output of the
  // generator at its self-seed 4357 with the 1998 seeding (2867219139): the
  // sum is 0.9375 of it.
  const float first = static_cast<float>((2867219139u & 0x7FFFFFFFu) * 0x1p-31);
  float v = wf(call(bind<&bi_perlin_noise>, {fw(0), fw(0), fw(0)}));
  EXPECT_FLOAT_EQ(v, first * 0.9375f);
  // Negative coordinates are mirrored.
  EXPECT_EQ(call(bind<&bi_perlin_noise>, {fw(-1.3f), fw(2.5f), fw(-0.7f)}),
            call(bind<&bi_perlin_noise>, {fw(1.3f), fw(2.5f), fw(0.7f)}));
  // Octaves and persistence ignore values that are not above 0.
  call(bind<&bi_perlin_init>, {0, fw(-1.0f)});
  EXPECT_EQ(wf(call(bind<&bi_perlin_noise>, {fw(0), fw(0), fw(0)})), v);
  call(bind<&bi_perlin_init>, {1, fw(0.5f)});
  EXPECT_FLOAT_EQ(wf(call(bind<&bi_perlin_noise>, {fw(0), fw(0), fw(0)})), first * 0.5f);
  call(bind<&bi_perlin_init>, {4, fw(0.5f)});
}

TEST(NumberBuiltins, Checksums) {
  Addr s = put("123456789");
  EXPECT_EQ(call(bind<&bi_crc16>, {s, 9}), 0xFFFFD64Eu);
  EXPECT_EQ(call(bind<&bi_crc32>, {s, 9}), 0xFC891918u);
  EXPECT_EQ(call(bind<&bi_crc16>, {s, 0}), 0xFFFF0000u);
  EXPECT_EQ(call(bind<&bi_crc32>, {s, neg(-4)}), 0u);
  EXPECT_EQ(call(bind<&bi_crc32>, {bad_address(), 9}), 0u);
  EXPECT_EQ(call(bind<&bi_crc16>, {s, 0x7FFFFFFF}), 0u);
}

TEST(RectBuiltins, SetMoveAndTest) {
  Addr r = block(16);
  EXPECT_EQ(call(bind<&bi_rc_set>, {r, 1, 2, 11, 22}), 1u);
  EXPECT_EQ(*load_rect(r), (Rect{1, 2, 11, 22}));
  EXPECT_EQ(call(bind<&bi_rc_setwh>, {r, neg(-5), 5, 10, 20}), 1u);
  EXPECT_EQ(*load_rect(r), (Rect{-5, 5, 5, 25}));
  EXPECT_EQ(call(bind<&bi_rc_move>, {r, 5, neg(-5)}), 1u);
  EXPECT_EQ(*load_rect(r), (Rect{0, 0, 10, 20}));
  EXPECT_EQ(call(bind<&bi_rc_inflate>, {r, 2, 3}), 1u);
  EXPECT_EQ(*load_rect(r), (Rect{-2, -3, 12, 23}));
  EXPECT_EQ(call(bind<&bi_rc_in>, {r, neg(-2), neg(-3)}), 1u);
  EXPECT_EQ(call(bind<&bi_rc_in>, {r, 12, 0}), 0u);  // right edge exclusive
  EXPECT_EQ(call(bind<&bi_rc_in>, {r, 0, 23}), 0u);  // bottom edge exclusive
  EXPECT_EQ(call(bind<&bi_rc_check>, {r}), 0u);
  Addr c = block(16);
  EXPECT_EQ(call(bind<&bi_rc_copy>, {c, r}), 1u);
  EXPECT_EQ(*load_rect(c), *load_rect(r));
  EXPECT_EQ(call(bind<&bi_rc_empty>, {r}), 1u);
  EXPECT_EQ(*load_rect(r), (Rect{0, 0, 0, 0}));
  EXPECT_EQ(call(bind<&bi_rc_check>, {r}), 1u);
  // Wrapping arithmetic rather than overflow.
  call(bind<&bi_rc_setwh>, {r, 0x7FFFFFFF, 0, 1, 1});
  EXPECT_EQ(load_rect(r)->right, INT32_MIN);
}

TEST(RectBuiltins, IntersectionAndUnion) {
  Addr a = block(16), b = block(16), d = block(16);
  call(bind<&bi_rc_set>, {a, 0, 0, 10, 10});
  call(bind<&bi_rc_set>, {b, 10, 0, 20, 10});  // touches a at an edge
  call(bind<&bi_rc_set>, {d, 9, 9, 9, 9});
  EXPECT_EQ(call(bind<&bi_rc_intersect>, {d, a, b}), 0u);
  EXPECT_EQ(*load_rect(d), (Rect{0, 0, 0, 0}));
  call(bind<&bi_rc_set>, {b, 5, 5, 20, 20});
  EXPECT_EQ(call(bind<&bi_rc_intersect>, {d, a, b}), 1u);
  EXPECT_EQ(*load_rect(d), (Rect{5, 5, 10, 10}));

  EXPECT_EQ(call(bind<&bi_rc_union>, {d, a, b}), 1u);
  EXPECT_EQ(*load_rect(d), (Rect{0, 0, 20, 20}));
  call(bind<&bi_rc_set>, {b, 50, 50, 40, 60});  // empty: ignored
  EXPECT_EQ(call(bind<&bi_rc_union>, {d, a, b}), 1u);
  EXPECT_EQ(*load_rect(d), (Rect{0, 0, 10, 10}));
  call(bind<&bi_rc_empty>, {a});
  EXPECT_EQ(call(bind<&bi_rc_union>, {d, a, b}), 0u);
  EXPECT_EQ(*load_rect(d), (Rect{0, 0, 0, 0}));
  // The destination may be one of the inputs.
  call(bind<&bi_rc_set>, {a, 0, 0, 4, 4});
  call(bind<&bi_rc_set>, {b, 2, 2, 8, 8});
  EXPECT_EQ(call(bind<&bi_rc_intersect>, {a, a, b}), 1u);
  EXPECT_EQ(*load_rect(a), (Rect{2, 2, 4, 4}));
}

TEST(RectBuiltins, NullAndBadRecordsDoNothing) {
  Addr a = block(16);
  call(bind<&bi_rc_set>, {a, 1, 1, 5, 5});
  const Addr bad = bad_address();
  for (Addr r : {Addr{0}, bad}) {
    EXPECT_EQ(call(bind<&bi_rc_empty>, {r}), 0u);
    EXPECT_EQ(call(bind<&bi_rc_set>, {r, 1, 2, 3, 4}), 0u);
    EXPECT_EQ(call(bind<&bi_rc_setwh>, {r, 1, 2, 3, 4}), 0u);
    EXPECT_EQ(call(bind<&bi_rc_move>, {r, 1, 1}), 0u);
    EXPECT_EQ(call(bind<&bi_rc_inflate>, {r, 1, 1}), 0u);
    EXPECT_EQ(call(bind<&bi_rc_in>, {r, 1, 1}), 0u);
    EXPECT_EQ(call(bind<&bi_rc_copy>, {r, a}), 0u);
    EXPECT_EQ(call(bind<&bi_rc_copy>, {a, r}), 0u);
    EXPECT_EQ(call(bind<&bi_rc_intersect>, {r, a, a}), 0u);
    EXPECT_EQ(call(bind<&bi_rc_union>, {a, r, a}), 0u);
    EXPECT_EQ(call(bind<&bi_rc_check>, {r}), 1u);  // nothing there counts as empty
  }
  EXPECT_EQ(*load_rect(a), (Rect{1, 1, 5, 5}));
}

}  // namespace
}  // namespace talven::lib
