// Typed builtin handlers: the binding between a plain C++ function and the
// builtin table's word interface.
//
// A builtin is written as a function whose parameters are argument words
// decoded by type, first argument first:
//   std::int32_t  - the word as a signed integer
//   std::uint32_t - the word as it is (also Addr: a script address)
//   float         - the word's bit pattern as a float
// and whose result is encoded into the one result word: int32 and uint32
// (Addr) as they are, float as its bit pattern, bool as 1/0, void as 0.
//
//   std::int32_t cd_play(std::int32_t track, std::int32_t fade_ms);
//   {1, "cd_play", bind<&cd_play>},             // argc 2, from the signature
//   {1, "cd_play", on_main_thread<&cd_play>},   // the same, run on the main thread
//
// bind<&f> reads exactly as many argument words as f has parameters, with
// one read of the block. A block that cannot be read whole reads as zero
// words: every parameter is 0 (the handler's own checks on its values then
// fail cleanly). bind_or<&f, kWord> answers kWord instead, without calling
// f, for handlers whose failure result is not what zeros give.
//
// on_main_thread<&f> reads the words on the calling thread, then runs f on
// the main thread (runtime/main_thread.h) while the caller waits; called on
// the main thread it runs f at once. While main-thread calls are closed it
// answers 0 without calling f.
//
// A module function with the right signature is bound as it is; a name of
// the builtin's own may refer to it: inline constexpr auto& bi_tsin = tsin;
//
// Handlers that are variadic or need the raw block keep the raw form
// `std::uint32_t h(Addr args)` and give their count in the row:
// {0, "sprintf", bi_sprintf, -1}. They read words with uarg/iarg/farg.
// (A raw handler is never given to bind<>: its signature reads as one
// uint32 parameter, and it would get the first word instead of the block.)
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <tuple>
#include <type_traits>
#include <utility>

#include "runtime/builtins.h"
#include "runtime/main_thread.h"

namespace talven::runtime {

// ---- argument words of a raw block, result words --------------------------

inline std::uint32_t uarg(Addr args, unsigned i) { return arg_word(args, i); }
inline std::int32_t iarg(Addr args, unsigned i) {
  return static_cast<std::int32_t>(arg_word(args, i));
}
inline float farg(Addr args, unsigned i) { return std::bit_cast<float>(arg_word(args, i)); }

inline std::uint32_t word(std::int32_t v) { return static_cast<std::uint32_t>(v); }
inline std::uint32_t word(float v) { return std::bit_cast<std::uint32_t>(v); }
inline std::uint32_t word(bool v) { return v ? 1u : 0u; }

// -1 as a result word.
constexpr std::uint32_t kMinusOne = 0xFFFFFFFFu;

// ---- the binding ---------------------------------------------------------

namespace binding {

template <class F>
struct Signature;
template <class R, class... A>
struct Signature<R (*)(A...)> {
  using Result = R;
  using Args = std::tuple<A...>;
  static constexpr std::size_t count = sizeof...(A);
};
template <class R, class... A>
struct Signature<R (*)(A...) noexcept> : Signature<R (*)(A...)> {};

template <class T>
constexpr bool kWordType =
    std::is_same_v<T, std::int32_t> || std::is_same_v<T, std::uint32_t> || std::is_same_v<T, float>;

template <class T>
T decode(std::uint32_t w) {
  static_assert(kWordType<T>, "a builtin parameter is std::int32_t, std::uint32_t (Addr) or float");
  if constexpr (std::is_same_v<T, float>) return std::bit_cast<float>(w);
  else return static_cast<T>(w);
}

template <class R>
std::uint32_t encode(R r) {
  static_assert(kWordType<R> || std::is_same_v<R, bool>,
                "a builtin result is std::int32_t, std::uint32_t (Addr), float, bool or void");
  if constexpr (std::is_same_v<R, bool>) return r ? 1u : 0u;
  else if constexpr (std::is_same_v<R, float>) return std::bit_cast<std::uint32_t>(r);
  else return static_cast<std::uint32_t>(r);
}

template <auto F, std::size_t... I>
std::uint32_t call_indexed(const std::uint32_t* words, std::index_sequence<I...>) {
  using S = Signature<decltype(F)>;
  if constexpr (std::is_void_v<typename S::Result>) {
    F(decode<std::tuple_element_t<I, typename S::Args>>(words[I])...);
    return 0;
  } else {
    return encode(F(decode<std::tuple_element_t<I, typename S::Args>>(words[I])...));
  }
}

// Calls F with its parameters decoded from words[0..count) and encodes the
// result.
template <auto F>
std::uint32_t call_with_words(const std::uint32_t* words) {
  return call_indexed<F>(words, std::make_index_sequence<Signature<decltype(F)>::count>{});
}

// The first N words of a block in one read; all zero when the block cannot
// be read whole (`read` tells which).
template <std::size_t N>
struct Words {
  std::uint32_t w[N == 0 ? 1 : N] = {};
  bool read = true;
};
template <std::size_t N>
Words<N> read_words(Addr args) {
  Words<N> words;
  if constexpr (N > 0) {
    if (!read_arg_words(args, N, words.w)) words = Words<N>{{}, false};
  }
  return words;
}

template <auto F>
std::uint32_t invoke(Addr args) {
  return call_with_words<F>(read_words<Signature<decltype(F)>::count>(args).w);
}

template <auto F, std::uint32_t kUnreadable>
std::uint32_t invoke_or(Addr args) {
  auto words = read_words<Signature<decltype(F)>::count>(args);
  return words.read ? call_with_words<F>(words.w) : kUnreadable;
}

template <auto F>
std::uint32_t invoke_on_main_thread(Addr args) {
  auto words = read_words<Signature<decltype(F)>::count>(args);
  return run_on_main_thread(&call_with_words<F>, words.w);
}

}  // namespace binding

// Argument words of a typed handler.
template <auto F>
inline constexpr std::int32_t arity =
    static_cast<std::int32_t>(binding::Signature<decltype(F)>::count);

template <auto F>
inline constexpr BuiltinBinding bind{&binding::invoke<F>, arity<F>};

template <auto F, std::uint32_t kUnreadable>
inline constexpr BuiltinBinding bind_or{&binding::invoke_or<F, kUnreadable>, arity<F>};

template <auto F>
inline constexpr BuiltinBinding on_main_thread{&binding::invoke_on_main_thread<F>, arity<F>};

// Runs F(args...) on the main thread from inside a handler (at once on the
// main thread) and answers its result; 0 (false) while calls are closed.
template <auto F, class... A>
auto call_on_main_thread(A... args) {
  using R = typename binding::Signature<decltype(F)>::Result;
  static_assert(sizeof...(A) == binding::Signature<decltype(F)>::count, "one value per parameter");
  const std::uint32_t words[sizeof...(A) == 0 ? 1 : sizeof...(A)] = {binding::encode(args)...};
  const std::uint32_t result = run_on_main_thread(&binding::call_with_words<F>, words);
  if constexpr (std::is_void_v<R>) return;
  else if constexpr (std::is_same_v<R, bool>) return result != 0;
  else return binding::decode<R>(result);
}

}  // namespace talven::runtime
