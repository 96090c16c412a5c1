// Socket error codes on Windows: Winsock already reports failures with the
// socket error numbers, and getaddrinfo's results are those numbers too
// (WSAHOST_NOT_FOUND 11001 ...); only its memory failure has another name.
#include <winsock2.h>
#include <ws2tcpip.h>

#include "net/net_errors.h"

namespace talven::net {

int socket_error_code(int error) { return error; }

int lookup_error_code(int gai_result, int) {
  switch (gai_result) {
    case WSAHOST_NOT_FOUND: return 11001;
    case WSATRY_AGAIN: return 11002;
    case WSANO_RECOVERY: return 11003;
    case WSANO_DATA: return 11004;
    case WSA_NOT_ENOUGH_MEMORY:
    case WSAENOBUFS: return 10055;
    default: return gai_result >= 10000 && gai_result < 12000 ? gai_result : 11003;
  }
}

}  // namespace talven::net
