// The networking builtins (net_open, net_close, net_send, net_recv,
// net_state): thin handlers over the network link (net_link.h). They run on
// the calling script thread.
#pragma once

#include <cstdint>

#include "base/address_space.h"

namespace talven::net {

std::uint32_t bi_net_open(Addr args);
std::uint32_t bi_net_close(Addr args);
std::uint32_t bi_net_send(Addr args);
std::uint32_t bi_net_recv(Addr args);
std::uint32_t bi_net_state(Addr args);

}  // namespace talven::net
