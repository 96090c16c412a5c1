// The chat host: waits for a guest, then answers each of its lines until
// the guest says goodbye.
#include "chat.h"

char *answers[4];

int main() {
  char line[LINE_MAX + 1];
  int i;
  int turn;

  answers[0] = "Welcome to the garden.";
  answers[1] = "The comets are early tonight.";
  answers[2] = "Come back soon.";
  answers[3] = "...";
  if (!net_open(0, CHAT_PORT)) {
    log_out("cannot listen on port %d\n", CHAT_PORT);
    return 1;
  }
  log_out("host: waiting on port %d\n", CHAT_PORT);
  for (i = 0; i < 6000 && net_recv(0, line, 0) < 0; i++) sleep(5);
  if (net_recv(0, line, 0) < 0) {
    log_out("host: nobody came\n");
    return 2;
  }
  turn = 0;
  while (hear(line)) {
    log_out("guest> %s\n", line);
    if (strcmp(line, "/bye") == 0) break;
    say(answers[turn < 3 ? turn : 3]);
    turn++;
  }
  // Let the guest leave first, so nothing we queued is cut off.
  for (i = 0; i < 2000 && net_recv(0, line, 0) >= 0; i++) sleep(5);
  net_close();
  log_out("host: %d lines exchanged\n", turn);
  return turn == 3 ? 0 : 3;
}
