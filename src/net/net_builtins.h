// The networking builtins (net_open, net_close, net_send, net_recv,
// net_state): thin handlers over the network link (net_link.h). They run on
// the calling script thread.
#pragma once

#include <cstdint>

#include "base/address_space.h"

namespace talven::net {

// Typed (runtime/bind.h binds them in the builtin table).
std::int32_t bi_net_open(Addr host, std::int32_t port);  // null host: a server on port
std::int32_t bi_net_close();
std::int32_t bi_net_send(std::int32_t peer, Addr data, std::int32_t length);  // bytes sent, or -1
std::int32_t bi_net_recv(std::int32_t peer, Addr buffer, std::int32_t length);
std::int32_t bi_net_state();

}  // namespace talven::net
