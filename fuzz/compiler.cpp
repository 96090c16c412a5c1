// The script compiler on arbitrary source text (a main file and a header it
// may include, sometimes marked UTF-8): the measuring pass and the real pass
// must agree, and no input may crash or hang it.
#include <cstdlib>

#include "fuzz_common.h"
#include "script/compiler_test_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace talven::script::test;
  talven::fuzz::quiet();
  Sources src;
  const std::string text(reinterpret_cast<const char*>(data), size);
  src.files["main.c"] = text;
  src.files["inc.h"] = text.substr(0, size / 2);
  // The header as UTF-8 by its mark: every file's encoding is its own.
  if (size > 0 && (data[0] & 1)) src.files["inc.h"].insert(0, "\xEF\xBB\xBF");
  Compiled c = compile_sources(src);
  if (c.measured.ok && (!c.result.ok || c.result.code_size != c.measured.code_size ||
                        c.result.data_size != c.measured.data_size))
    std::abort();  // the two passes disagree
  return 0;
}
