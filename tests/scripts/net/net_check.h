// Helpers of the network script tests: a failed check logs its name and
// counts (main returns the count), and the waits are bounded by rounds of
// `sleep`, so a script never waits for ever.
int failures;

int check(int ok, char *what) {
  if (!ok) {
    log_out("FAIL %s\n", what);
    failures++;
  }
  return ok;
}

// Connects to the server at 127.0.0.1:PORT, trying again while it does not
// listen yet. 1 when connected.
int connect_server(int port) {
  int i;
  int j;
  for (i = 0; i < 300; i++) {
    net_open("127.0.0.1", port);
    for (j = 0; j < 400 && net_state() == 2; j++) sleep(5);
    if (net_state() == 1) return 1;
    sleep(50);
  }
  return 0;
}

// Takes exactly n bytes from the link into buf within about 20 seconds.
// Returns the number taken.
int recv_exact(int client, char *buf, int n) {
  int got;
  int k;
  int i;
  got = 0;
  for (i = 0; i < 4000 && got < n; i++) {
    k = net_recv(client, buf + got, n - got);
    if (k < 0) return got;
    if (k > 0) got += k;
    else sleep(5);
  }
  return got;
}
