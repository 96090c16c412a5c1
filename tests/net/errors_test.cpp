// Socket error codes and their texts.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <netdb.h>
#endif

#include <cerrno>
#include <string>

#include "net/net_errors.h"

namespace {

using namespace talven::net;

TEST(NetErrors, ErrnoValuesMapToCodesWithTexts) {
#ifdef _WIN32
  GTEST_SKIP() << "Windows reports the socket error numbers themselves, not errno values";
#else
  EXPECT_EQ(socket_error_code(ECONNREFUSED), 10061);
  EXPECT_STREQ(socket_error_text(10061), "WSAECONNREFUSED 接続が拒否されました");
  EXPECT_EQ(socket_error_code(EADDRINUSE), 10048);
  EXPECT_STREQ(socket_error_text(10048), "WSAEADDRINUSE アドレスがすでに使用中です");
  EXPECT_EQ(socket_error_code(ECONNRESET), 10054);
  EXPECT_EQ(socket_error_code(EPIPE), 10058);
  EXPECT_EQ(socket_error_code(EWOULDBLOCK), 10035);
  EXPECT_STREQ(socket_error_text(kNotInitialised),
               "WSANOTINITIALISED Winsockが初期化されていません");

  // Every errno the table knows lands on a code that has its own text.
  const int known[] = {
      EINTR,        EBADF,       EACCES,          EFAULT,          EINVAL,       EMFILE,
      EAGAIN,       EINPROGRESS, EALREADY,        ENOTSOCK,        EDESTADDRREQ, EMSGSIZE,
      EPROTOTYPE,   ENOPROTOOPT, EPROTONOSUPPORT, ESOCKTNOSUPPORT, EOPNOTSUPP,   EPFNOSUPPORT,
      EAFNOSUPPORT, EADDRINUSE,  EADDRNOTAVAIL,   ENETDOWN,        ENETUNREACH,  ENETRESET,
      ECONNABORTED, ECONNRESET,  ENOBUFS,         EISCONN,         ENOTCONN,     ESHUTDOWN,
      ETOOMANYREFS, ETIMEDOUT,   ECONNREFUSED,    ELOOP,           ENAMETOOLONG, EHOSTDOWN,
      EHOSTUNREACH, ENOTEMPTY,   EUSERS,          EDQUOT,          ESTALE,       EREMOTE};
  for (int e : known) {
    int code = socket_error_code(e);
    EXPECT_GE(code, 10004) << e;
    EXPECT_STRNE(socket_error_text(code), "未定義エラー") << e;
    // The text starts with the code's own name, so no two errnos collide
    // by accident on a wrong neighbour.
    EXPECT_EQ(std::string(socket_error_text(code)).rfind("WSA", 0), 0u) << e;
  }
  EXPECT_EQ(std::string(socket_error_text(socket_error_code(EINTR))).substr(0, 8), "WSAEINTR");
  EXPECT_EQ(std::string(socket_error_text(socket_error_code(EREMOTE))).substr(0, 10), "WSAEREMOTE");
#endif
}

TEST(NetErrors, UnknownCodesAndLookUps) {
  EXPECT_STREQ(socket_error_text(0), "未定義エラー");
  EXPECT_STREQ(socket_error_text(10001), "未定義エラー");
  EXPECT_STREQ(socket_error_text(11001), "WSAHOST_NOT_FOUND ホストが見つかりません");
#ifdef _WIN32
  // Look-up failures are already the numbers; only the memory failure
  // (ERROR_NOT_ENOUGH_MEMORY, 8) has another name.
  EXPECT_EQ(lookup_error_code(11001, 0), 11001);
  EXPECT_EQ(lookup_error_code(8, 0), 10055);
#else
  EXPECT_STREQ(socket_error_text(socket_error_code(EDOM)), "未定義エラー");
  EXPECT_EQ(lookup_error_code(EAI_NONAME, 0), 11001);
  EXPECT_EQ(lookup_error_code(EAI_AGAIN, 0), 11002);
  EXPECT_EQ(lookup_error_code(EAI_FAIL, 0), 11003);
  EXPECT_EQ(lookup_error_code(EAI_SYSTEM, EMFILE), 10024);
#endif
}

}  // namespace
