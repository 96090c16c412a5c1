// Streams BLOCKS blocks of BLOCK bytes each way at once and checks every
// block that arrives: its first four bytes carry its number, the rest a
// fixed pattern, and it must equal the block this side expects. A running
// checksum (over the CRCs of the blocks) is compared between the sides. ROLE 0
// serves, 1 connects. The client ends with one byte 'K' after its blocks;
// the server closes the link once it has everything, the client waits for
// that close.
#include "talven.h"
#include "net_check.h"
#include "params.h"

char *out;
char *in;
char *expect;

void stamp(char *block, int number) {
  block[0] = number & 255;
  block[1] = (number >> 8) & 255;
  block[2] = (number >> 16) & 255;
  block[3] = (number >> 24) & 255;
}

int main() {
  int i;
  int n;
  int sent;
  int sent_at;
  int got;
  int got_at;
  int bad;
  int moved;
  int sum;
  char tail[4];

  out = malloc(BLOCK);
  in = malloc(BLOCK);
  expect = malloc(BLOCK);
  for (i = 0; i < BLOCK; i++) out[i] = (i * 13 + 7) & 255;
  memcpy(expect, out, BLOCK);

  if (ROLE == 0) {
    check(net_open(0, PORT) == 1, "server open");
    for (i = 0; i < 6000 && net_recv(0, in, 0) < 0; i++) sleep(5);
  } else {
    check(connect_server(PORT), "connected");
  }

  sent = 0;
  sent_at = 0;
  got = 0;
  got_at = 0;
  bad = 0;
  sum = 0;
  while (sent < BLOCKS || got < BLOCKS) {
    moved = 0;
    if (sent < BLOCKS) {
      if (sent_at == 0) stamp(out, sent);
      n = net_send(0, out + sent_at, BLOCK - sent_at);
      if (n < 0) break;
      moved += n;
      sent_at += n;
      if (sent_at == BLOCK) {
        sent++;
        sent_at = 0;
      }
    }
    if (got < BLOCKS) {
      n = net_recv(0, in + got_at, BLOCK - got_at);
      if (n < 0) break;
      moved += n;
      got_at += n;
      if (got_at == BLOCK) {
        stamp(expect, got);
        if (memcmp(in, expect, BLOCK) != 0) bad++;
        sum = sum * 31 + crc32(in, BLOCK);
        got++;
        got_at = 0;
      }
    }
    if (!moved) sleep(IDLE);
  }
  check(sent == BLOCKS, "every block sent");
  check(got == BLOCKS, "every block received");
  check(bad == 0, "blocks complete and in order");
  log_out("checksum %08x\n", sum);

  if (ROLE == 0) {
    check(recv_exact(0, tail, 1) == 1 && tail[0] == 'K', "the client's end mark");
    net_close();
  } else {
    for (i = 0; i < 4000 && net_send(0, "K", 1) != 1; i++) sleep(5);
    for (i = 0; i < 6000 && net_state() == 1; i++) sleep(5);
    check(net_state() == 0, "the server closed");
  }
  return failures;
}
