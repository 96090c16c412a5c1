// The single-instance guard over an abstract local socket: the first
// instance listens on it, a later one connects and sends a raise request.
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>

#include "app/instance.h"

namespace talven {

namespace {

constexpr char kRaise = 'R';

// An abstract address: sun_path starts with a zero byte, no file is made
// and the name disappears with the process that holds it.
socklen_t make_address(const std::string& name, sockaddr_un& addr) {
  std::memset(&addr, 0, sizeof addr);
  addr.sun_family = AF_UNIX;
  std::size_t n = std::min(name.size(), sizeof addr.sun_path - 1);
  std::memcpy(addr.sun_path + 1, name.data(), n);
  return static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + n);
}

}  // namespace

// The listening socket that holds the name.
struct InstanceGuard::Held {
  int fd;
};

InstanceGuard::~InstanceGuard() { release(); }

void InstanceGuard::release() {
  if (held_) ::close(held_->fd);
  delete held_;
  held_ = nullptr;
}

InstanceGuard::Result InstanceGuard::acquire(const std::string& name) {
  release();
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return Result::Unavailable;
  sockaddr_un addr;
  socklen_t len = make_address(name, addr);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), len) != 0) {
    int err = errno;
    ::close(fd);
    return err == EADDRINUSE ? Result::Other : Result::Unavailable;
  }
  if (::listen(fd, 4) != 0) {
    ::close(fd);
    return Result::Unavailable;
  }
  held_ = new Held{fd};
  return Result::First;
}

bool InstanceGuard::poll_raise_requests() {
  if (!held_) return false;
  bool raise = false;
  for (;;) {
    int c = ::accept4(held_->fd, nullptr, nullptr, SOCK_CLOEXEC);
    if (c < 0) break;
    // The request may still be on its way when the connection is accepted.
    timeval tv{0, 200000};
    ::setsockopt(c, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    char b = 0;
    if (::recv(c, &b, 1, 0) == 1 && b == kRaise) raise = true;
    ::close(c);
  }
  return raise;
}

bool ask_instance_to_raise(const std::string& name) {
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  sockaddr_un addr;
  socklen_t len = make_address(name, addr);
  bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), len) == 0 &&
            ::send(fd, &kRaise, 1, MSG_NOSIGNAL) == 1;
  ::close(fd);
  return ok;
}

}  // namespace talven
