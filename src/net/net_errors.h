// Socket error codes and their messages.
//
// Failures of the link are reported with the classic socket error numbers
// (10004 "interrupted" ... 11004 "no data"), each with its fixed message
// text; a number without a text reads "未定義エラー". Windows reports
// failures with those numbers already; POSIX hosts report errno values,
// which socket_error_code() maps to them (net_errors_posix.cpp):
//
//   EINTR 10004          EBADF 10009          EACCES, EPERM 10013
//   EFAULT 10014         EINVAL 10022         EMFILE, ENFILE 10024
//   EAGAIN 10035         EINPROGRESS 10036    EALREADY 10037
//   ENOTSOCK 10038       EDESTADDRREQ 10039   EMSGSIZE 10040
//   EPROTOTYPE 10041     ENOPROTOOPT 10042    EPROTONOSUPPORT 10043
//   ESOCKTNOSUPPORT 10044  EOPNOTSUPP 10045   EPFNOSUPPORT 10046
//   EAFNOSUPPORT 10047   EADDRINUSE 10048     EADDRNOTAVAIL 10049
//   ENETDOWN 10050       ENETUNREACH 10051    ENETRESET 10052
//   ECONNABORTED 10053   ECONNRESET 10054     ENOBUFS, ENOMEM 10055
//   EISCONN 10056        ENOTCONN 10057       ESHUTDOWN, EPIPE 10058
//   ETOOMANYREFS 10059   ETIMEDOUT 10060      ECONNREFUSED 10061
//   ELOOP 10062          ENAMETOOLONG 10063   EHOSTDOWN 10064
//   EHOSTUNREACH 10065   ENOTEMPTY 10066      EUSERS 10068
//   EDQUOT 10069         ESTALE 10070         EREMOTE 10071
//   anything else: the errno value itself (so it reads "未定義エラー")
//
// Name look-up failures (getaddrinfo's EAI_* results) map the same way:
// EAI_NONAME 11001, EAI_AGAIN 11002, EAI_FAIL 11003, EAI_NODATA and
// EAI_ADDRFAMILY 11004, EAI_SYSTEM its errno (on Windows getaddrinfo's
// results are already the numbers).
#pragma once

namespace talven::net {

// A network that was never started answers with this code.
constexpr int kNotInitialised = 10093;

// The socket error number of a host failure code (errno, or Winsock's).
int socket_error_code(int errno_value);
int lookup_error_code(int gai_result, int errno_value);

// The message text (UTF-8) of a socket error code.
const char* socket_error_text(int code);

// Reports the code's message at level 1.
void report_socket_error(int code);

// Reports a level-1 message for the link's own thread without waiting for
// it to be shown: a message box holds up only the reporter thread behind
// this call, never the link (nor a net_close that waits for the link).
// Messages are shown in the order they were posted.
void post_message(const char* text);
inline void post_socket_error(int code) { post_message(socket_error_text(code)); }

}  // namespace talven::net
