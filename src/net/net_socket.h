// The host's TCP sockets as the network link uses them.
//
// Thin wrappers over POSIX sockets: every socket is non-blocking and
// close-on-exec, sends never raise SIGPIPE, and failures come back as socket
// error codes (net_errors.h) rather than errno. Only the link's own thread
// calls these, except open_listener() and the wake pipe's signal().
#pragma once

#include <sys/socket.h>

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

struct Address {
  sockaddr_storage storage{};
  socklen_t length = 0;
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

// A pipe that wakes the link's thread from its wait.
class WakePipe {
 public:
  bool open();
  void close();
  int read_end() const { return fds_[0]; }
  void signal();
  void drain();
  ~WakePipe() { close(); }

 private:
  int fds_[2] = {-1, -1};
};

}  // namespace talven::net
