// Serves five clients; a sixth is refused. The test drives the steps with
// two files: this script writes "full.txt" once five clients are in, and
// goes on when "release.txt" appears. Each client still connected then
// gets its number and answers "k".
#include "talven.h"
#include "net_check.h"
#include "params.h"

int in_use(int client) {
  char b[1];
  return net_recv(client, b, 0) >= 0;
}

int users() {
  int i;
  int n;
  n = 0;
  for (i = 0; i < 5; i++) n += in_use(i);
  return n;
}

int main() {
  char buf[8];
  int i;
  int f;
  int oks;
  int round;

  check(net_open(0, PORT) == 1, "server open");
  for (i = 0; i < 6000 && users() < 5; i++) sleep(5);
  check(users() == 5, "five clients");
  f = fopen("full.txt", "w");
  fclose(f);
  f = 0;
  for (i = 0; i < 6000 && f == 0; i++) {
    f = fopen("release.txt", "r");
    if (f == 0) sleep(5);
  }
  check(f != 0, "released");
  if (f) fclose(f);
  for (i = 0; i < 5; i++) {
    buf[0] = '0' + i;
    if (in_use(i)) net_send(i, buf, 1);
  }
  oks = 0;
  for (round = 0; round < 4000 && oks < 4; round++) {
    for (i = 0; i < 5; i++) {
      if (net_recv(i, buf, 1) == 1 && buf[0] == 'k') oks++;
    }
    sleep(5);
  }
  check(oks == 4, "four answers");
  check(users() == 4, "the vanished client was dropped");
  net_close();
  return failures;
}
