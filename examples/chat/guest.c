// The chat guest: calls the host, says three lines and reads each answer,
// then says goodbye.
#include "chat.h"

int main() {
  char line[LINE_MAX + 1];
  char *lines[3];
  int i;
  int j;
  int heard;

  lines[0] = "Hello, host!";
  lines[1] = "Anything to see up there?";
  lines[2] = "Thanks, good night.";
  // The host may not be listening yet: call again for a while.
  for (i = 0; i < 200; i++) {
    net_open("127.0.0.1", CHAT_PORT);
    for (j = 0; j < 400 && net_state() == 2; j++) sleep(5);
    if (net_state() == 1) break;
    sleep(50);
  }
  if (net_state() != 1) {
    log_out("guest: no host on port %d\n", CHAT_PORT);
    return 1;
  }
  heard = 0;
  for (i = 0; i < 3; i++) {
    say(lines[i]);
    if (!hear(line)) break;
    log_out("host> %s\n", line);
    heard++;
  }
  say("/bye");
  // Wait until the bye has left the ring before hanging up.
  sleep(100);
  net_close();
  return heard == 3 ? 0 : 3;
}
