// One of the crowd: waits for its number from the server and answers "k".
// Exit 0 when served, 3 when the server closed without a number. With
// ONE_TRY the server is known to listen, so a refusal is not retried.
#include "talven.h"
#include "net_check.h"
#include "params.h"

int main() {
  char buf[8];
  int i;
  int got;

  if (ONE_TRY) {
    net_open("127.0.0.1", PORT);
    for (i = 0; i < 4000 && net_state() == 2; i++) sleep(5);
  } else if (!connect_server(PORT)) {
    return 5;
  }
  got = 0;
  for (i = 0; i < 12000 && net_state() == 1 && got == 0; i++) {
    got = net_recv(0, buf, 1);
    if (got <= 0) {
      got = 0;
      sleep(5);
    }
  }
  if (!got) return 3;
  check(buf[0] >= '0' && buf[0] <= '4', "a client number");
  net_send(0, "k", 1);
  // The server ends the link once everyone answered.
  for (i = 0; i < 6000 && net_state() == 1; i++) sleep(5);
  return failures;
}
