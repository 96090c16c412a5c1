// Deterministic stand-ins for a game's data files, for the storage
// benchmarks: script-like text mixed with CP932 dialogue, and a 24-bit BMP
// of a painted scene (gradients, flat shapes, a little sensor noise).
#pragma once

#include <cmath>
#include <cstdint>
#include <random>
#include <string>

namespace talven::bench {

inline std::string sample_text(std::size_t size, std::uint32_t seed = 1) {
  static const char* const code_words[] = {
      "int",   "void",     "return", "if",   "else", "while", "for", "sp_set", "sp_draw",
      "gload", "snd_play", "update", "wait", "x",    "y",     "i",   "frame",  "count",
      "plane", "0",        "1",      "255",  "640",  "480",   "(",   ")",      "{",
      "}",     ";",        "=",      "+",    "==",   "<",     "&&",  ","};
  static const char* const words[] = {
      "the",    "of",      "and",    "to",      "a",        "in",      "is",     "it",
      "you",    "that",    "he",     "was",     "for",      "on",      "are",    "with",
      "as",     "I",       "his",    "they",    "be",       "at",      "one",    "have",
      "this",   "from",    "or",     "had",     "by",       "word",    "but",    "what",
      "some",   "we",      "can",    "out",     "other",    "were",    "all",    "there",
      "when",   "up",      "use",    "your",    "how",      "said",    "an",     "each",
      "castle", "morning", "letter", "quietly", "remember", "station", "summer", "rain"};
  // CP932 dialogue fragments (kana and common kanji).
  static const char* const dialogue[] = {"\x82\xa0\x82\xe8\x82\xaa\x82\xc6\x82\xa4",  // arigatou
                                         "\x82\xb7\x82\xdd\x82\xdc\x82\xb9\x82\xf1",  // sumimasen
                                         "\x8d\xa1\x93\xfa\x82\xcd",                  // kyou wa
                                         "\x8a\x77\x8d\x5a",                          // gakkou
                                         "\x82\xbb\x82\xea\x82\xc5\x82\xe0",          // soredemo
                                         "\x96\xe9",
                                         "\x8b\xf3",
                                         "\x81\x41",
                                         "\x81\x42",
                                         "\x81\x75",
                                         "\x81\x76"};
  std::mt19937 rng(seed);
  // Zipf-like pick: small indices far more often.
  auto pick = [&](std::size_t n) {
    double u = std::uniform_real_distribution<double>(0, 1)(rng);
    return static_cast<std::size_t>(std::pow(u, 1.6) * static_cast<double>(n)) % n;
  };
  std::string out;
  out.reserve(size + 256);
  int indent = 0;
  while (out.size() < size) {
    switch (rng() % 3) {
      case 0: {  // a line of script
        out.append(static_cast<std::size_t>(indent) * 4, ' ');
        int n = 3 + static_cast<int>(rng() % 9);
        for (int i = 0; i < n; ++i) {
          if (rng() % 5 == 0) out += std::to_string(rng() % 2000);  // coordinates, counts, colours
          else out += code_words[pick(std::size(code_words))];
          out += ' ';
        }
        out += ";\r\n";
        indent = (indent + static_cast<int>(rng() % 3) - 1 + 4) % 4;
        break;
      }
      case 1: {  // a sentence
        int n = 5 + static_cast<int>(rng() % 14);
        for (int i = 0; i < n; ++i) {
          out += words[pick(std::size(words))];
          out += i + 1 == n ? ".\r\n" : " ";
        }
        break;
      }
      default: {  // a line of dialogue
        out += "\x81\x75";
        int n = 2 + static_cast<int>(rng() % 6);
        for (int i = 0; i < n; ++i) out += dialogue[pick(std::size(dialogue))];
        out += "\x81\x76\r\n";
      }
    }
  }
  out.resize(size);
  return out;
}

inline std::string sample_bmp(int width, int height, std::uint32_t seed = 2) {
  const std::uint32_t row = static_cast<std::uint32_t>((width * 3 + 3) & ~3);
  const std::uint32_t image = row * static_cast<std::uint32_t>(height);
  std::string out;
  auto put16 = [&](std::uint32_t v) {
    out += static_cast<char>(v & 0xFF), out += static_cast<char>(v >> 8);
  };
  auto put32 = [&](std::uint32_t v) { put16(v & 0xFFFF), put16(v >> 16); };
  out += "BM";
  put32(54 + image);
  put32(0);
  put32(54);
  put32(40);
  put32(static_cast<std::uint32_t>(width));
  put32(static_cast<std::uint32_t>(height));
  put16(1);
  put16(24);
  put32(0);
  put32(image);
  put32(2835);
  put32(2835);
  put32(0);
  put32(0);
  std::mt19937 rng(seed);
  for (int y = height - 1; y >= 0; --y) {  // bottom-up rows
    std::string line(row, '\0');
    for (int x = 0; x < width; ++x) {
      int r, g, b;
      double hill = height * 0.6 + std::sin(x * 0.01) * 40 + std::sin(x * 0.037) * 15;
      if (y < hill) {  // sky gradient
        r = 90 + y * 100 / height;
        g = 140 + y * 80 / height;
        b = 230 - y * 30 / height;
      } else {  // grass with stripes
        r = 40 + ((x / 24 + y / 16) % 2) * 10;
        g = 140 - (y - static_cast<int>(hill)) / 4;
        b = 50;
      }
      if (x > width / 5 && x < width / 5 + 160 && y > height / 3 && y < height / 3 + 220) {
        r = 200, g = 190, b = 170;  // a flat building
        if ((x / 20) % 3 == 0 && (y / 30) % 2 == 0) r = 60, g = 70, b = 90;
      }
      int noise = static_cast<int>(rng() % 5) - 2;  // a little sensor noise
      if (y >= hill) noise = 0;
      auto clamp = [](int v) { return static_cast<char>(v < 0 ? 0 : v > 255 ? 255 : v); };
      line[static_cast<std::size_t>(x) * 3 + 0] = clamp(b + noise);
      line[static_cast<std::size_t>(x) * 3 + 1] = clamp(g + noise);
      line[static_cast<std::size_t>(x) * 3 + 2] = clamp(r + noise);
    }
    out += line;
  }
  return out;
}

}  // namespace talven::bench
