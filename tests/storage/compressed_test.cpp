// The compressed data format: exact bytes, round trips, the width and reset
// codes, and damaged streams.
#include "storage/compressed.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <random>

#include "storage/file_layer.h"
#include "storage/storage_test_util.h"
#include "support/peak_memory.h"

namespace talven::storage {
namespace {

using test::StorageTest;

std::string bytes(std::initializer_list<int> list) {
  std::string s;
  for (int b : list) s += static_cast<char>(b);
  return s;
}

std::string compress(std::string_view data) {
  std::string out;
  EXPECT_TRUE(compress_bytes(data, out));
  return out;
}

// Walks the codes of an image the way the format defines them, counting
// width changes and resets; -1 when the codes run out before the end code.
struct CodeCounts {
  int grows = 0, resets = 0, max_width = 9;
};
CodeCounts count_codes(const std::string& image) {
  CodeCounts counts;
  auto r = open_memory_bit_reader(image);
  std::uint32_t v;
  EXPECT_TRUE(read_bits(*r, 32, v) && read_bits(*r, 32, v));
  int width = 9;
  for (;;) {
    if (!read_bits(*r, width, v)) {
      ADD_FAILURE() << "no end code";
      return counts;
    }
    if (v == kCodeEnd) return counts;
    if (v == kCodeGrow) {
      ++width;
      ++counts.grows;
      counts.max_width = std::max(counts.max_width, width);
    } else if (v == kCodeReset) {
      width = 9;
      ++counts.resets;
    }
  }
}

std::string random_bytes(std::size_t n, std::uint32_t seed, int alphabet = 256) {
  std::mt19937 rng(seed);
  std::string s(n, '\0');
  for (char& c : s) c = static_cast<char>(rng() % alphabet);
  return s;
}

std::string sample_text(std::size_t n) {
  static const char* words[] = {"the ",     "script ",          "plane ", "sprite ",
                                "\x82\xa0", "\x8a\xbf\x8e\x9a", "\r\n",   "{ ",
                                "} ",       "return 0; "};
  std::mt19937 rng(7);
  std::string s;
  while (s.size() < n) s += words[rng() % 10];
  s.resize(n);
  return s;
}

TEST(CompressedFormat, EncodesTheKnownBytes) {
  // 'aaa': 97, then 259 for "aa", then the end code, all 9 bits wide.
  EXPECT_EQ(compress("aaa"),
            bytes({0x61, 0x63, 0x70, 0x00, 0x00, 0x00, 0x00, 0x03, 0x30, 0xC0, 0xE0, 0x00}));
  // One byte: its literal and the end code (0x78 then 256: 001111000 100000000).
  EXPECT_EQ(compress("x"),
            bytes({0x61, 0x63, 0x70, 0x00, 0x00, 0x00, 0x00, 0x01, 0x3C, 0x40, 0x00}));
  // Nothing: the end code alone.
  EXPECT_EQ(compress(""), bytes({0x61, 0x63, 0x70, 0x00, 0, 0, 0, 0, 0x80, 0x00}));
  // "abab": 97, 98, 259, 256.
  EXPECT_EQ(compress("abab").substr(8), bytes({0x30, 0x98, 0xA0, 0x70, 0x00}));
}

TEST(CompressedFormat, BitsGoMostSignificantFirst) {
  std::string out;
  auto w = create_memory_bit_writer(out);
  EXPECT_TRUE(write_bits(*w, 1, 1));
  EXPECT_TRUE(write_bits(*w, 0x0F0, 9));
  EXPECT_TRUE(write_bits(*w, 0xFFFFFFFD, 3));  // only the low 3 bits count
  EXPECT_TRUE(close_bit_writer(*w));
  EXPECT_EQ(out, bytes({0xBC, 0x28}));  // 1 011110000 101, padded with zeros

  // Mixed widths through more than one buffer of the writer come back intact.
  std::mt19937 rng(3);
  std::vector<std::pair<std::uint32_t, int>> fields;
  out.clear();
  w = create_memory_bit_writer(out);
  for (int i = 0; i < 20000; ++i) {
    int n = 1 + static_cast<int>(rng() % 32);
    std::uint32_t v =
        static_cast<std::uint32_t>(rng()) & static_cast<std::uint32_t>((1ull << n) - 1);
    fields.push_back({v, n});
    ASSERT_TRUE(write_bits(*w, v, n));
  }
  ASSERT_TRUE(close_bit_writer(*w));
  auto r = open_memory_bit_reader(out);
  for (auto [v, n] : fields) {
    std::uint32_t got;
    ASSERT_TRUE(read_bits(*r, n, got));
    ASSERT_EQ(got, v);
  }
  std::uint32_t got;
  EXPECT_FALSE(read_bits(*r, 9, got));  // fewer than 8 padding bits remain
}

TEST(CompressedFormat, RoundTripsAndChangesWidthAndResets) {
  const std::vector<std::string> inputs = {
      "x",
      "aaa",
      std::string(100000, 'z'),
      sample_text(300000),
      random_bytes(200000, 1),     // every few bytes a new string: forces resets
      random_bytes(150000, 2, 4),  // small alphabet: long strings
  };
  for (const std::string& in : inputs) {
    std::string image = compress(in), out;
    ASSERT_TRUE(expand_bytes(image, out)) << in.size();
    EXPECT_EQ(out, in);
  }
  // Random data gives out every code of each dictionary round: six width
  // steps (9 -> 15) before each reset, and at least one reset.
  CodeCounts c = count_codes(compress(inputs[4]));
  EXPECT_GE(c.resets, 1);
  EXPECT_EQ(c.max_width, 15);
  EXPECT_GE(c.grows, 6 * c.resets);
  EXPECT_LE(c.grows, 6 * (c.resets + 1));
  // A short input stays at 9 bits.
  EXPECT_EQ(count_codes(compress("abcabcabc")).grows, 0);
}

TEST(CompressedFormat, DeclaredLengthBoundsTheOutput) {
  std::string eleven = compress("hello world"), out;
  // Length 10 with codes for 11 bytes fails.
  std::string ten = eleven;
  ten[7] = 10;
  EXPECT_FALSE(expand_bytes(ten, out));
  // Length 13: the codes end early and the rest reads as zeros.
  std::string thirteen = eleven;
  thirteen[7] = 13;
  ASSERT_TRUE(expand_bytes(thirteen, out));
  EXPECT_EQ(out, std::string("hello world\0\0", 13));
  // Bytes after the end code are ignored.
  ASSERT_TRUE(expand_bytes(eleven + "garbage", out));
  EXPECT_EQ(out, "hello world");
  // A stream cut short is complete as far as it goes.
  std::string text = sample_text(5000);
  ASSERT_TRUE(expand_bytes(compress(text).substr(0, 1000), out));
  ASSERT_EQ(out.size(), text.size());
  EXPECT_EQ(out.substr(0, 500), text.substr(0, 500));
  EXPECT_EQ(out.back(), '\0');
  // Not the signature, no length, or a length past the signed range.
  EXPECT_FALSE(expand_bytes("plain text here", out));
  EXPECT_FALSE(expand_bytes(bytes({0x61, 0x63, 0x70, 0x00, 0x00}), out));
  EXPECT_FALSE(expand_bytes(bytes({0x61, 0x63, 0x70, 0x00, 0x80, 0, 0, 0, 0x80, 0}), out));
  // The best case of the coder (one byte repeated) expands in full.
  const std::string zeros(10 << 20, '\0');
  ASSERT_TRUE(expand_bytes(compress(zeros), out));
  EXPECT_EQ(out, zeros);
}

// Streams written code by code, for codes the encoder never gives out.
std::string stream_of(std::uint32_t length,
                      const std::vector<std::pair<std::uint32_t, int>>& codes) {
  std::string out;
  auto w = create_memory_bit_writer(out);
  write_bits(*w, kCompressedSignature, 32);
  write_bits(*w, length, 32);
  for (auto [code, width] : codes) write_bits(*w, code, width);
  close_bit_writer(*w);
  return out;
}

TEST(CompressedFormat, CodesThatEndEarlyLeaveAZeroTailNotHeld) {
  // However few codes there are, the declared length stands and the rest
  // reads as zeros.
  std::string out;
  ASSERT_TRUE(expand_bytes(stream_of(5, {{97, 9}, {256, 9}}), out));
  EXPECT_EQ(out, std::string("a\0\0\0\0", 5));
  std::string hello = compress("hello");
  hello[7] = 20;
  ASSERT_TRUE(expand_bytes(hello, out));
  EXPECT_EQ(out, "hello" + std::string(15, '\0'));
  // No codes at all (not even the end code): all zeros.
  ASSERT_TRUE(expand_bytes(stream_of(3, {}), out));
  EXPECT_EQ(out, std::string(3, '\0'));

  // Ten bytes that declare 2 GiB hold one decoded byte, not the length.
  const std::string forged = bytes({0x61, 0x63, 0x70, 0x00, 0x7F, 0xFF, 0xFF, 0xFF, 0x30, 0x80});
  std::string decoded;
  std::uint32_t length = 0;
  ASSERT_TRUE(expand_decoded(forged, decoded, length));
  EXPECT_EQ(decoded, "a");
  EXPECT_EQ(length, kMaxDecodedLength);
  ASSERT_TRUE(expand_decoded(hello, decoded, length));
  EXPECT_EQ(decoded, "hello");
  EXPECT_EQ(length, 20u);
  // Still refused: a length past the signed range, and codes past the length.
  EXPECT_FALSE(
      expand_decoded(bytes({0x61, 0x63, 0x70, 0x00, 0x80, 0, 0, 0, 0x30, 0x80}), decoded, length));
  hello[7] = 4;
  EXPECT_FALSE(expand_decoded(hello, decoded, length));
}

TEST(CompressedFormat, StreamedCodingMatchesTheWholeImage) {
  // The encoder fed in uneven pieces writes the image compress_bytes makes,
  // and the streaming decoder hands back the data in pieces. The text is
  // longer than the decoder's output piece, so its strings are copied from
  // the piece and spelled from the dictionary, across dictionary resets.
  std::string text = sample_text(2500000) + std::string(70000, 'z');
  std::string whole = compress(text), streamed;
  auto w = create_sink_bit_writer([&](const std::uint8_t* p, std::size_t n) {
    streamed.append(reinterpret_cast<const char*>(p), n);
    return true;
  });
  ASSERT_TRUE(w);
  StreamEncoder encoder(*w);
  ASSERT_TRUE(write_bits(*w, kCompressedSignature, 32) &&
              write_bits(*w, std::uint32_t(text.size()), 32));
  for (std::size_t at = 0, step = 1; at < text.size(); at += step, step = step * 3 % 9973 + 1)
    ASSERT_TRUE(encoder.feed(reinterpret_cast<const std::uint8_t*>(text.data()) + at,
                             std::min(step, text.size() - at)));
  ASSERT_TRUE(encoder.finish());
  ASSERT_TRUE(close_bit_writer(*w));
  EXPECT_EQ(streamed, whole);

  std::size_t offered = 0;
  auto r = open_source_bit_reader([&](std::uint8_t* p, std::size_t n) {
    const std::size_t k = std::min<std::size_t>({n, 777, whole.size() - offered});
    std::memcpy(p, whole.data() + offered, k);
    offered += k;
    return k;
  });
  std::uint32_t signature = 0, length = 0;
  ASSERT_TRUE(read_bits(*r, 32, signature) && read_bits(*r, 32, length));
  std::string back;
  std::uint64_t decoded = 0;
  ASSERT_TRUE(decode_to(
      *r, length,
      [&](const std::uint8_t* p, std::size_t n) {
        back.append(reinterpret_cast<const char*>(p), n);
        return true;
      },
      &decoded));
  EXPECT_EQ(decoded, text.size());
  EXPECT_EQ(back, text);
}

TEST(CompressedFormat, DecoderRejectsCodesNotGivenOut) {
  std::string out;
  // 259 right after the first literal is the string being defined: "aaa".
  ASSERT_TRUE(expand_bytes(stream_of(3, {{97, 9}, {259, 9}, {256, 9}}), out));
  EXPECT_EQ(out, "aaa");
  // 260 is beyond the next free code.
  EXPECT_FALSE(expand_bytes(stream_of(3, {{97, 9}, {260, 9}, {256, 9}}), out));
  // A fresh dictionary must start with a literal.
  EXPECT_FALSE(expand_bytes(stream_of(3, {{259, 9}, {256, 9}}), out));
  EXPECT_FALSE(expand_bytes(stream_of(3, {{257, 9}, {97, 10}, {256, 10}}), out));
  EXPECT_FALSE(expand_bytes(stream_of(3, {{97, 9}, {258, 9}, {300, 9}}), out));
  // Widths stop at 15 bits.
  std::vector<std::pair<std::uint32_t, int>> grow = {{97, 9}};
  for (int w = 9; w < 15; ++w) grow.push_back({257, w});
  grow.push_back({98, 15});
  grow.push_back({256, 15});
  ASSERT_TRUE(expand_bytes(stream_of(2, grow), out));
  EXPECT_EQ(out, "ab");
  grow.insert(grow.end() - 2, {257, 15});
  EXPECT_FALSE(expand_bytes(stream_of(2, grow), out));
  // The dictionary holds codes up to 32767; a stream that goes on defining
  // strings without a reset is damaged.
  std::vector<std::pair<std::uint32_t, int>> fill = {{1, 9}};
  for (std::uint32_t code = 259; code <= kLastCode; ++code) fill.push_back({2, 9});
  fill.push_back({256, 9});
  const std::uint32_t n = static_cast<std::uint32_t>(fill.size() - 1);
  ASSERT_TRUE(expand_bytes(stream_of(n, fill), out));
  EXPECT_EQ(out.size(), n);
  fill.insert(fill.end() - 1, {3, 9});
  EXPECT_FALSE(expand_bytes(stream_of(n + 1, fill), out));
}

TEST(CompressedFormat, DamagedStreamsNeverCrash) {
  std::mt19937 rng(11);
  const std::string image = compress(sample_text(20000));
  std::string out;
  int decoded = 0;
  for (int round = 0; round < 400; ++round) {
    std::string damaged = image;
    int flips = 1 + static_cast<int>(rng() % 8);
    for (int i = 0; i < flips; ++i)
      damaged[8 + rng() % (damaged.size() - 8)] ^= static_cast<char>(1 << (rng() % 8));
    if (round % 4 == 0) damaged.resize(8 + rng() % (damaged.size() - 8));
    if (expand_bytes(damaged, out)) {
      ++decoded;
      EXPECT_EQ(out.size(), 20000u);
    }
  }
  EXPECT_LT(decoded, 400);
}

class CompressedFileTest : public StorageTest {};

TEST_F(CompressedFileTest, SavedFilesOpenAsTheirBytes) {
  config().FileSystem = 2;
  const std::string text = sample_text(100000);  // several writer and reader buffers
  ASSERT_TRUE(save_compressed("Saved.dat", text.data(), text.size()));
  std::string memory = compress(text);
  EXPECT_EQ(test::read_host_file("Saved.dat"), memory);

  std::string read;
  ASSERT_TRUE(ReadWholeExpFile("SAVED.DAT", read));
  EXPECT_EQ(read, text);

  ExpFilePtr f(OpenExpFile("saved.dat"));
  ASSERT_TRUE(f);
  EXPECT_EQ(GetExpFileSize(f.get()), 100000);
  EXPECT_EQ(SeekExpFile(f.get(), -10, kSeekEnd), 99990);
  char buf[32];
  std::size_t got = 99;
  EXPECT_EQ(ReadExpFile(f.get(), buf, sizeof buf, &got), 1);
  EXPECT_EQ(std::string(buf, got), text.substr(99990));
  EXPECT_EQ(ReadExpFile(f.get(), buf, sizeof buf, &got), 1);
  EXPECT_EQ(got, 0u);
  EXPECT_EQ(SeekExpFile(f.get(), 1, kSeekEnd), -1);
  EXPECT_EQ(SeekExpFile(f.get(), -1, kSeekSet), -1);
  EXPECT_EQ(SeekExpFile(f.get(), 5, kSeekSet), 5);
  EXPECT_EQ(SeekExpFile(f.get(), 3, kSeekCur), 8);
  EXPECT_EQ(SeekExpFile(f.get(), 3, 7), 8);  // unknown origin: position unchanged
  EXPECT_EQ(ReadExpFile(f.get(), nullptr, 4, &got), 0);
  EXPECT_EQ(ReadExpFile(nullptr, buf, 4, &got), 0);
  EXPECT_EQ(GetExpFileSize(nullptr), -1);
  EXPECT_TRUE(take_messages().empty());

  // Zero length, or a declared length beyond the codes: no file / zero tail.
  test::write_host_file("empty.dat", compress(""));
  EXPECT_EQ(OpenExpFile("empty.dat"), nullptr);
  std::string short_codes = compress("abc");
  short_codes[7] = 6;
  test::write_host_file("short.dat", short_codes);
  ASSERT_TRUE(ReadWholeExpFile("short.dat", read));
  EXPECT_EQ(read, std::string("abc\0\0\0", 6));
  short_codes[7] = 2;
  test::write_host_file("long.dat", short_codes);
  EXPECT_EQ(OpenExpFile("long.dat"), nullptr);
}

TEST_F(CompressedFileTest, ALengthBeyondTheCodesReadsAsZerosWithoutBeingHeld) {
  config().FileSystem = 2;
  test::write_host_file("five.dat", bytes({0x61, 0x63, 0x70, 0x00, 0, 0, 0, 5, 0x30, 0x80, 0}));
  std::string read;
  ASSERT_TRUE(ReadWholeExpFile("five.dat", read));
  EXPECT_EQ(read, std::string("a\0\0\0\0", 5));
  // The same inside an archive.
  config().FileSystem = kFileSystemArchives;
  test::write_host_file("Arc.bin",
                        test::make_archive({{"five.dat", test::read_host_file("five.dat")}}));
  ASSERT_TRUE(ReadWholeExpFile("arc/five.dat", read));
  EXPECT_EQ(read, std::string("a\0\0\0\0", 5));
  config().FileSystem = kFileSystemLoose;

  // Ten bytes that declare 2 GiB: the file opens with that size, reads and
  // seeks anywhere in it, and memory holds the one decoded byte only.
  const long before = ::talven::test::peak_memory_kib();
  test::write_host_file("huge.dat", std::string("\x61\x63\x70\x00\x7F\xFF\xFF\xFF\x30\x80", 10));
  std::vector<ExpFilePtr> files;
  for (int i = 0; i < 8; ++i) {
    files.emplace_back(OpenExpFile("huge.dat"));
    ASSERT_TRUE(files.back());
  }
  ExpFile* f = files.back().get();
  EXPECT_EQ(GetExpFileSize(f), std::int64_t{kMaxDecodedLength});
  char buf[8];
  std::size_t got = 0;
  ASSERT_EQ(ReadExpFile(f, buf, 3, &got), 1);
  EXPECT_EQ(std::string(buf, got), std::string("a\0\0", 3));
  EXPECT_EQ(SeekExpFile(f, -5, kSeekEnd), std::int64_t{kMaxDecodedLength} - 5);
  std::memset(buf, 0x55, sizeof buf);
  ASSERT_EQ(ReadExpFile(f, buf, sizeof buf, &got), 1);
  EXPECT_EQ(std::string(buf, got), std::string(5, '\0'));
  EXPECT_LT(::talven::test::peak_memory_kib() - before,
            64 * 1024);  // KiB: far below one such length
  EXPECT_TRUE(take_messages().empty());
}

TEST_F(CompressedFileTest, FailedSavesKeepTheOldFile) {
  test::write_host_file("keep.dat", "old contents");
  // No data: the header alone is written and the save reports failure.
  EXPECT_FALSE(save_compressed("header.dat", nullptr, 5));
  EXPECT_EQ(test::read_host_file("header.dat"), bytes({0x61, 0x63, 0x70, 0x00, 0, 0, 0, 5}));
  // A file that cannot be created.
  EXPECT_FALSE(save_compressed("no/such/dir/x.dat", "abc", 3));
  EXPECT_EQ(take_messages(),
            std::vector<std::string>{"ファイルの作成に失敗しました FILE - no/such/dir/x.dat"});
  // A writer dropped half way leaves neither a partial file nor a temporary.
  {
    auto w = create_bit_writer("keep.dat");
    ASSERT_TRUE(w);
    write_bits(*w, kCompressedSignature, 32);
  }
  EXPECT_EQ(test::read_host_file("keep.dat"), "old contents");
  auto listing = std::filesystem::directory_iterator(".");
  EXPECT_EQ(std::distance(begin(listing), end(listing)), 2);  // keep.dat and header.dat
}

}  // namespace
}  // namespace talven::storage
