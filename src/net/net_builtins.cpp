#include "net/net_builtins.h"

#include <string>

#include "net/net_link.h"

namespace talven::net {

namespace {

constexpr std::uint32_t kMaxHostLength = 1024;

// The script's buffer for a transfer of `length` bytes: the whole range
// must be script memory, so a wild address or a negative length fails
// before anything is copied. A zero length needs no buffer.
bool transfer_buffer(Addr address, std::int32_t length, std::uint8_t** out, bool written = false) {
  if (length < 0) return false;
  if (length == 0) {
    static std::uint8_t none;
    *out = &none;
    return true;
  }
  *out = written ? wspan(address, static_cast<std::uint32_t>(length))
                 : span(address, static_cast<std::uint32_t>(length));
  return *out != nullptr;
}

}  // namespace

std::int32_t bi_net_open(Addr host_address, std::int32_t port) {
  if (host_address == kNullAddr) return net_open(nullptr, port);
  std::optional<std::string_view> text = cstr(host_address, kMaxHostLength);
  if (!text) {
    net_close();  // a new open always ends the current link
    return 0;
  }
  std::string host(*text);
  return net_open(&host, port);
}

std::int32_t bi_net_close() { return net_close(); }

std::int32_t bi_net_send(std::int32_t peer, Addr data_a, std::int32_t length) {
  std::uint8_t* data;
  if (!transfer_buffer(data_a, length, &data)) return -1;
  return net_send(peer, data, static_cast<std::uint32_t>(length));
}

std::int32_t bi_net_recv(std::int32_t peer, Addr buffer_a, std::int32_t length) {
  std::uint8_t* buffer;
  if (!transfer_buffer(buffer_a, length, &buffer, true)) return -1;
  return net_recv(peer, buffer, static_cast<std::uint32_t>(length));
}

std::int32_t bi_net_state() { return net_state(); }

}  // namespace talven::net
