#include "net/net_builtins.h"

#include <string>

#include "net/net_link.h"
#include "runtime/builtins.h"

namespace talven::net {

namespace {

constexpr std::uint32_t kMinusOne = 0xFFFFFFFFu;
constexpr std::uint32_t kMaxHostLength = 1024;

std::int32_t iarg(Addr args, unsigned i) {
  return static_cast<std::int32_t>(runtime::arg_word(args, i));
}

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

std::uint32_t bi_net_open(Addr args) {
  Addr host_address = runtime::arg_word(args, 0);
  std::int32_t port = iarg(args, 1);
  if (host_address == kNullAddr) return static_cast<std::uint32_t>(net_open(nullptr, port));
  std::optional<std::string_view> text = cstr(host_address, kMaxHostLength);
  if (!text) {
    net_close();  // a new open always ends the current link
    return 0;
  }
  std::string host(*text);
  return static_cast<std::uint32_t>(net_open(&host, port));
}

std::uint32_t bi_net_close(Addr) { return static_cast<std::uint32_t>(net_close()); }

std::uint32_t bi_net_send(Addr args) {
  std::uint8_t* data;
  std::int32_t length = iarg(args, 2);
  if (!transfer_buffer(runtime::arg_word(args, 1), length, &data)) return kMinusOne;
  return static_cast<std::uint32_t>(net_send(iarg(args, 0), data, static_cast<std::uint32_t>(length)));
}

std::uint32_t bi_net_recv(Addr args) {
  std::uint8_t* buffer;
  std::int32_t length = iarg(args, 2);
  if (!transfer_buffer(runtime::arg_word(args, 1), length, &buffer, true)) return kMinusOne;
  return static_cast<std::uint32_t>(net_recv(iarg(args, 0), buffer, static_cast<std::uint32_t>(length)));
}

std::uint32_t bi_net_state(Addr) { return static_cast<std::uint32_t>(net_state()); }

}  // namespace talven::net
