// The byte ring between a script and the network thread.
//
// 8192 bytes with a read and a write position; the ring is empty when they
// are equal and holds at most 8191 bytes, so one byte always stays free and
// a full ring never looks empty. Positions wrap to 0 at 8192.
//
// A ring has one producer and one consumer. Positions change only under the
// network lock, but the bytes themselves may be moved outside it: the
// producer owns the free region [write, read - 1) and the consumer owns the
// held region [read, write), so each side can copy its own region while the
// other side works on the other one. The contiguous_* helpers give those
// regions in at most two pieces (up to the end of the ring, then from its
// start).
#pragma once

#include <array>
#include <cstdint>
#include <cstring>

namespace talven::net {

constexpr std::uint32_t kRingSize = 8192;

struct Ring {
  std::array<std::uint8_t, kRingSize> bytes{};
  std::uint32_t read = 0;
  std::uint32_t write = 0;

  void reset() { read = write = 0; }

  std::uint32_t free() const { return (read + kRingSize - write - 1) % kRingSize; }
  std::uint32_t held() const { return (write + kRingSize - read) % kRingSize; }

  // Copies min(len, free()) bytes in; returns how many.
  std::uint32_t put(const std::uint8_t* src, std::uint32_t len) {
    std::uint32_t n = len < free() ? len : free();
    std::uint32_t first = n < kRingSize - write ? n : kRingSize - write;
    std::memcpy(bytes.data() + write, src, first);
    std::memcpy(bytes.data(), src + first, n - first);
    write = (write + n) % kRingSize;
    return n;
  }

  // Copies min(len, held()) bytes out; returns how many.
  std::uint32_t take(std::uint8_t* dst, std::uint32_t len) {
    std::uint32_t n = len < held() ? len : held();
    std::uint32_t first = n < kRingSize - read ? n : kRingSize - read;
    std::memcpy(dst, bytes.data() + read, first);
    std::memcpy(dst + first, bytes.data(), n - first);
    read = (read + n) % kRingSize;
    return n;
  }

  // The first contiguous piece of the held bytes (the consumer's region).
  std::uint32_t contiguous_held() const {
    std::uint32_t h = held();
    return h < kRingSize - read ? h : kRingSize - read;
  }
  // The first contiguous piece of the free bytes (the producer's region).
  std::uint32_t contiguous_free() const {
    std::uint32_t f = free();
    return f < kRingSize - write ? f : kRingSize - write;
  }
  // The consumer took n held bytes / the producer filled n free bytes.
  void consumed(std::uint32_t n) { read = (read + n) % kRingSize; }
  void produced(std::uint32_t n) { write = (write + n) % kRingSize; }
};

}  // namespace talven::net
