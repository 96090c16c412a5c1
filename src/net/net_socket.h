// The host's TCP sockets as the network link uses them.
//
// Thin wrappers over the host's sockets (net_socket_posix.cpp over POSIX
// sockets, net_socket_win32.cpp over Winsock 2): every socket is
// non-blocking and not inherited by started programs, sends never raise
// SIGPIPE, and failures come back as socket error codes (net_errors.h).
// Sockets are small non-negative integers, -1 for none. Only the link's own
// thread calls these, except open_listener() and the wake pipe's signal().
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace talven::net {

// True when the host can make TCP sockets at all (the start-up check).
bool sockets_available();

// A listening socket on every local address at `port` (IPv6 with IPv4
// mapped in where the host has IPv6, else IPv4), with address reuse and a
// backlog of 5. -1 and *code on failure.
int open_listener(int port, int* code);

// Accepts one waiting connection and sets it to close at once (linger on,
// time 0). -1 when none waits (*code 0) or on failure (*code set; a socket
// whose linger cannot be set is closed).
int accept_connection(int listener, int* code);

// The peer's host name by reverse look-up, else its numeric address
// (IPv4-mapped addresses in dotted form).
std::string peer_name(int socket);

// True when `host` is a numeric IPv4 or IPv6 address.
bool numeric_host(const std::string& host);

// A host socket address (a sockaddr_storage's bytes) and its length.
struct Address {
  alignas(8) std::uint8_t storage[128]{};
  std::uint32_t length = 0;
};

// The addresses of host:port, numeric hosts used directly, names looked up
// (IPv4 first). False with *code on failure.
bool resolve(const std::string& host, int port, std::vector<Address>* out, int* code);

// Starts a connection; the socket, or -1 with *code.
int connect_start(const Address& address, int* code);
// The outcome of a started connection once it is writable: 0 or a code.
int connect_result(int socket);

// Bytes waiting to be read, or -1.
int pending_bytes(int socket);

// Sends / receives at most len bytes: the count, 0 for a would-block (and,
// for recv, -1 with *code 0 for an orderly close), or -1 with *code. An
// interrupted call is retried.
long send_some(int socket, const std::uint8_t* data, std::size_t len, int* code);
long recv_some(int socket, std::uint8_t* data, std::size_t len, int* code);

void close_socket(int socket);

// What a wait watches for and what it found.
constexpr short kWaitIn = 1;        // readable (or a connection waits)
constexpr short kWaitOut = 2;       // writable (or a connection finished)
constexpr short kWaitHangUp = 4;    // found only
constexpr short kWaitError = 8;     // found only
constexpr short kWaitInvalid = 16;  // found only: not an open socket
struct WaitEntry {
  int socket = -1;  // a negative socket is skipped
  short events = 0;
  short found = 0;
};
// Waits up to timeout_ms for one of the entries; the number found, 0 when
// the time ran out, -1 on failure. An interrupted wait is retried.
int wait_sockets(WaitEntry* entries, std::size_t count, int timeout_ms);

// A pipe (on Windows a loopback socket) that wakes the link's thread from
// its wait; its read end is waited for like a socket.
class WakePipe {
 public:
  bool open(int* code);
  void close();
  int read_end() const { return fds_[0]; }
  void signal();
  void drain();
  ~WakePipe() { close(); }

 private:
  int fds_[2] = {-1, -1};
};

}  // namespace talven::net
