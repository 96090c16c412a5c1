// Thread soak: 31 workers beside this controller (32 script threads in all)
// do random mixes of sleep, call, main-thread calls (snd_isplay, getkey),
// drawing (gfill, sprites, sp_draw, update), script memory churn and
// suspending and resuming each other, while the controller ends and begins
// workers and suspends and resumes them. Runs for SOAK_SECONDS (settings.h,
// written by the driver), logging a status line every 10 seconds; returns
// the number of failed checks.
#include "talven.h"
#include "settings.h"

int tid[32];        // thread number of worker i, -1 when none
int hb[32];         // heartbeats
int holding[32];    // 1 + the thread worker i suspends or is about to; 0 = none
int spr[32];        // sprite worker i has set, 0 when none
int mem[32];        // block worker i has allocated, 0 when none
int failures;
int calls;
int begins;
int ends;
int self_ends;
int suspends;

int fail(char *what, int value) {
  failures++;
  log_out("FAIL %s (%d)\n", what, value);
  return 0;
}

int worker(int i) {
  int op;
  int n;
  int peer;
  int r;
  char keys[256];
  int rect[4];

  gfree(100 + i);
  if (galloc(100 + i, 32, 32, 32) == 0) fail("galloc", i);
  while (1) {
    hb[i]++;
    op = rand() % 12;
    if (op == 0) {
      sleep(rand() % 20);
    } else if (op == 1) {
      calls++;
      r = call("sub.c");
      if (r != 7) fail("call result", r);
    } else if (op == 2) {
      snd_isplay(rand() % 64);
      getkey(keys);
    } else if (op == 3) {
      gfill(100 + i, rand() % 32, rand() % 32, rand() % 32, rand() % 32, rand() * 65536 + rand());
    } else if (op == 4) {
      spr[i] = sp_set(i, 1, rand() % 600, rand() % 440, 100 + i, 0, 0);
      sp_draw(-1, rect);
      n = spr[i];
      spr[i] = 0;
      if (n) sp_reset(n);
    } else if (op == 5) {
      update(0);
    } else if (op == 6) {
      mem[i] = malloc(1 + rand() % 8192);
      if (mem[i] == 0) fail("malloc", i);
      n = mem[i];
      mem[i] = 0;
      free(n);
    } else if (op == 7) {
      // Only higher-numbered peers, so holds never form a cycle.
      peer = i + 1 + rand() % 31;
      // The number is read once: the peer may end and its number go to a
      // new thread meanwhile, and the resume must reach the one suspended.
      n = -1;
      if (peer < 32) n = tid[peer];
      if (n >= 0) {
        holding[i] = n + 1;
        if (thd_suspend(n) >= 0) {
          suspends++;
          sleep(rand() % 5);
          thd_resume(n);
        }
        holding[i] = 0;
      }
    } else if (op == 8) {
      if (rand() % 64 == 0) {
        self_ends++;
        tid[i] = -1;
        return 0;
      }
    } else {
      n = rand() % 500;
      while (n > 0) n--;
    }
  }
  return 0;
}

int start_worker(int i) {
  int t;
  hb[i] = 0;
  holding[i] = 0;
  t = thd_begin(worker, i, rand() % 2, 4096);
  tid[i] = t;
  if (t >= 0) {
    begins++;
    thd_resume(t);
  }
  return t;
}

// Ends worker v; a peer it had suspended (or was about to) is resumed
// once it has ended, so no hold outlives its holder.
int end_worker(int v) {
  int t;
  t = tid[v];
  if (t < 0) return 0;
  if (thd_end(t) != 1) fail("thd_end", t);
  ends++;
  tid[v] = -1;
  if (holding[v]) thd_resume(holding[v] - 1);
  holding[v] = 0;
  if (spr[v]) sp_reset(spr[v]);
  spr[v] = 0;
  if (mem[v]) free(mem[v]);
  mem[v] = 0;
  return 1;
}

int main() {
  int i;
  int v;
  int t;
  int next_log;
  int total;

  srand(SOAK_SEED);
  galloc(1, 640, 480, 32);
  sp_setbg(1);
  for (i = 0; i < 32; i++) tid[i] = -1;
  for (i = 1; i < 32; i++) start_worker(i);
  setcount(0, 0);
  next_log = 10000;
  while (getcount(0) < SOAK_SECONDS * 1000) {
    sleep(rand() % 10);
    v = 1 + rand() % 31;
    if (tid[v] < 0) {
      if (start_worker(v) < 0) fail("thd_begin", v);
    } else if (rand() % 4 == 0) {
      end_worker(v);
    } else {
      t = tid[v];
      if (thd_suspend(t) > 0) {
        sleep(rand() % 5);
        thd_resume(t);
      }
    }
    if (getcount(0) >= next_log) {
      total = 0;
      for (i = 1; i < 32; i++) total = total + hb[i];
      log_out("SOAK t=%d s heartbeats=%d begins=%d ends=%d self_ends=%d calls=%d suspends=%d failures=%d\n",
              next_log / 1000, total, begins, ends, self_ends, calls, suspends, failures);
      next_log = next_log + 10000;
    }
  }
  for (i = 1; i < 32; i++) end_worker(i);
  log_out("SOAK done begins=%d ends=%d self_ends=%d calls=%d failures=%d\n", begins, ends, self_ends, calls, failures);
  return failures;
}
