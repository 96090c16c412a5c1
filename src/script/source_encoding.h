// The encoding of script sources: CP932 (the runtime's own text encoding)
// or UTF-8, decided per file.
//
// The compiler works on CP932 bytes. A UTF-8 source is converted to CP932
// as it is opened, so its string and character literals hold the bytes the
// same text written in CP932 would give and both compile to the same image.
// A CP932 source is never touched.
//
// Which encoding a file is in: a UTF-8 byte order mark says UTF-8; else the
// configured mode (`SourceEncoding`: auto, utf8, cp932). In auto, a file
// that is valid UTF-8 with multi-byte characters is UTF-8 unless it also
// reads as CP932 text and its UTF-8 reading is not plainly Japanese or
// common punctuation (a CP932 file is very seldom valid UTF-8 at all).
//
// Converting, a character with no CP932 form is an error naming it and its
// place, except inside a comment, where it becomes '?' (comments are never
// compiled). Line ends are kept, so line numbers do not move.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace talven::script {

enum class SourceEncoding { kAuto, kUtf8, kCp932 };

// "auto" (or empty), "utf8" / "utf-8", "cp932" / "sjis" / "shift_jis", any
// letter case; none for anything else.
std::optional<SourceEncoding> parse_source_encoding(std::string_view value);

struct SourceDecoding {
  enum Outcome {
    kAsIs,       // CP932 (or plain ASCII): the text is unchanged
    kConverted,  // UTF-8: the text now holds its CP932 form
    kNeither,    // auto: neither valid UTF-8 nor CP932; kept as bytes
    kFailed,     // cannot be used: see the place and reason
  };
  Outcome outcome = kAsIs;
  // kNeither and kFailed: the first offending place. `column` is a byte
  // index into `source_line`, the line's text in CP932 for display.
  int line = 0;
  std::size_t column = 0;
  std::string source_line;
  std::string reason;  // English, for kFailed and kNeither
};

// Decides the encoding of `text` and converts it to CP932 when it is UTF-8.
// On kFailed the text is left as it was.
SourceDecoding decode_source(std::string& text, SourceEncoding mode);

}  // namespace talven::script
