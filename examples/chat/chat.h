// A chat between two talven instances over the network link.
//
// The link carries bytes without any framing, so the chat frames its own
// messages: one line of text ending in a newline. Each side keeps what has
// arrived in a line buffer and takes whole lines out of it; anything
// queued is sent in pieces as the link's ring makes room.
#include "talven.h"
#include "port.h"

#define LINE_MAX 256

char pending[1024];  // bytes received but not yet a whole line
int pending_len;

// Sends a whole line; waits (briefly, in rounds) while the ring is full.
// 1 when it all went, 0 when the link failed or stayed full.
int say(char *text) {
  char line[LINE_MAX + 2];
  int len;
  int done;
  int n;
  int tries;
  strncpy(line, text, LINE_MAX);
  line[LINE_MAX] = 0;
  strcat(line, "\n");
  len = strlen(line);
  done = 0;
  for (tries = 0; done < len && tries < 2000; tries++) {
    n = net_send(0, line + done, len - done);
    if (n < 0) return 0;
    done += n;
    if (done < len) sleep(5);
  }
  return done == len;
}

// Waits up to about ten seconds for the next line from the peer and copies
// it (without the newline) to out. 1 with a line, 0 when the peer left or
// was silent.
int hear(char *out) {
  int i;
  int n;
  int k;
  int tries;
  for (tries = 0; tries < 2000; tries++) {
    for (i = 0; i < pending_len; i++) {
      if (pending[i] == '\n') {
        memcpy(out, pending, i);
        out[i] = 0;
        memmove(pending, pending + i + 1, pending_len - i - 1);
        pending_len = pending_len - i - 1;
        return 1;
      }
    }
    if (pending_len >= 1023) pending_len = 0;  // an over-long line is dropped
    n = net_recv(0, pending + pending_len, 1023 - pending_len);
    if (n < 0) return 0;
    pending_len += n;
    if (n == 0) sleep(5);
  }
  return 0;
}
