// Helpers for calling builtin handlers from tests: argument blocks, texts
// and float words in script memory.
#pragma once

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "base/address_space.h"
#include "runtime/bind.h"
#include "runtime/builtins.h"
#include "runtime/trap.h"

namespace talven::lib::test {

using runtime::bind;

inline std::uint32_t fw(float f) { return std::bit_cast<std::uint32_t>(f); }
inline float wf(std::uint32_t w) { return std::bit_cast<float>(w); }

// A zero-terminated copy of text in script memory (freed by the caller or
// left for the process).
inline Addr put(std::string_view text) {
  Addr a = script_alloc(static_cast<std::uint32_t>(text.size() + 1));
  write_cstr(a, text, static_cast<std::uint32_t>(text.size() + 1));
  return a;
}

// A block of n bytes filled with `fill`.
inline Addr block(std::uint32_t n, std::uint8_t fill = 0xEE) {
  Addr a = script_alloc(n);
  std::vector<std::uint8_t> bytes(n, fill);
  write_bytes(a, bytes.data(), n);
  return a;
}

inline std::string text_at(Addr a) {
  auto s = cstr(a);
  return s ? std::string(*s) : std::string("<bad>");
}

inline std::string bytes_at(Addr a, std::uint32_t n) {
  std::string out(n, '\0');
  EXPECT_TRUE(read_bytes(a, out.data(), n));
  return out;
}

// An address past the end of valid script memory.
// Above the highest address the allocator ever hands out, so never valid.
inline Addr bad_address() { return 0xFFFFFF00u; }

// Calls a handler with the words as its argument block. The block is the
// top of a pretend caller stack, so variadic builtins see exactly these
// words and nothing above them.
inline std::uint32_t call(runtime::BuiltinHandler handler,
                          std::initializer_list<std::uint32_t> words,
                          std::uint32_t thread_slot = 0xFFFFFFFFu) {
  const std::uint32_t n = static_cast<std::uint32_t>(words.size());
  Addr args = script_alloc(4 * n + 4);
  std::uint32_t i = 0;
  for (std::uint32_t w : words) store32(args + 4 * i++, w);
  runtime::VmContext context{};
  context.thread_slot = thread_slot;
  context.stack = args;
  context.stack_size = 4 * n;
  runtime::VmContext* saved = runtime::current_context;
  runtime::current_context = &context;
  std::uint32_t r = handler(args);
  runtime::current_context = saved;
  script_free(args);
  return r;
}

// The same through a typed handler's binding, as the builtin table holds it:
// call(bind<&bi_strlen>, {text}).
inline std::uint32_t call(runtime::BuiltinBinding bound, std::initializer_list<std::uint32_t> words,
                          std::uint32_t thread_slot = 0xFFFFFFFFu) {
  return call(bound.handler, words, thread_slot);
}

}  // namespace talven::lib::test
