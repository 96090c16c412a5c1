// The network link: one TCP server or client at a time for scripts.
//
// A server accepts up to five clients on a port (client numbers 0 to 4); a
// client connects to one server. Scripts never touch sockets: net_send()
// queues bytes into a ring and net_recv() takes bytes out of one (net_ring.h),
// and the link's own thread moves bytes between the rings and the sockets.
//
// The thread waits at most 5 ms per round for its sockets, and is woken at
// once when a script queues bytes or makes room in a receive ring that the
// socket could not empty into; it never holds the network lock across a
// system call. A peer that sends faster than the script reads is held back
// by its ring (nothing is buffered beyond it); a client whose peer closed is
// dropped only once the script has taken every byte that arrived.
//
// The builtins call these under the builtin lock; net_start/net_shutdown
// belong to the runtime's start and stop, net_close also to its stop steps.
#pragma once

#include <cstdint>
#include <string>

namespace talven::net {

constexpr int kMaxClients = 5;

// Roles, as net_role() reports them.
constexpr int kRoleNone = 0;
constexpr int kRoleServer = 1;
constexpr int kRoleClient = 2;

// The network is usable for servers only after net_start() with the `Net`
// configuration key set (reads the key itself); a host that cannot make
// sockets reports the failure at start and stays off.
void net_start();
void net_shutdown();
// Turns the network on or off directly (tests).
void net_set_started(bool started);
bool net_started();

// host nullptr: a server on port; else a client to host:port. Closes any
// link first. 1 when the link started, 0 otherwise (ports outside 1-65535
// fail).
int net_open(const std::string* host, int port);
// Ends the link and waits for its thread; 1.
int net_close();
// Queue / take bytes: the count (limited by the ring), or -1 when there is
// no link, the client number is not a connected client of the server, or
// the client is not connected. `client` is ignored by a client link.
int net_send(int client, const std::uint8_t* data, std::uint32_t length);
int net_recv(int client, std::uint8_t* buffer, std::uint32_t length);
// Server: 1 while its thread runs. Client: 1 connected, 2 still connecting.
// Otherwise 0.
int net_state();

int net_role();
// The number of connected clients of the server, a client's peer name and
// the bytes waiting in its receive ring (-1 when it is not connected).
int net_client_count();
std::string net_peer_name(int client);
int net_received(int client);

}  // namespace talven::net
