// Script threads: suspended start, suspend and resume counts, thd_end, the
// 32-thread limit and slot reuse. Returns the number of failed checks.
#include "talven.h"
#include "check.h"

int counter;
int worker_arg;

int worker(int arg) {
  worker_arg = arg;
  while (1) {
    counter++;
    sleep(1);
  }
  return 0;
}

int self_id;
int self_result;
int after_self_end;

// Ends its own thread: the slice ends with the call and the thread stops
// there, so nothing after it runs (not even the store of the result).
int ender(int arg) {
  self_result = thd_end(self_id);
  after_self_end = 1;
  return 0;
}

// Calls builtins without pause, so it is often waiting for the builtin lock
// when another thread ends it.
int spinner(int arg) {
  while (1) rand();
  return 0;
}

int sleeper(int ms) {
  sleep(ms);
  return 0;
}

int main() {
  int t;
  int c1;
  int c2;
  int i;
  int last;

  t = thd_begin(worker, 5, 1, 100);
  check(t > 0, "thd_begin gives a thread number");
  sleep(40);
  check(worker_arg == 0, "a thread begun suspended does not run");
  check(thd_resume(t) == 0, "one resume releases it");
  sleep(40);
  check(worker_arg == 5, "the function gets its argument");
  check(counter > 0, "the resumed thread runs");

  check(thd_suspend(t) == 1, "suspend count 1");
  check(thd_suspend(t) == 2, "suspend count 2");
  sleep(20);
  c1 = counter;
  sleep(40);
  c2 = counter;
  check(c1 == c2, "a suspended thread runs nothing");
  check(thd_resume(t) == 1, "resume gives the new count");
  check(thd_resume(t) == 0, "resume to zero");
  check(thd_resume(t) == 0, "resume at zero stays zero");
  sleep(40);
  check(counter > c2, "it runs again");

  check(thd_end(t) == 1, "thd_end ends it");
  check(thd_suspend(t) == -1, "an ended thread is gone");
  check(thd_end(t) == 0, "thd_end of a free slot");
  check(thd_end(40) == 0, "thd_end of a number out of range");
  check(thd_resume(-1) == -1, "thd_resume of a number out of range");

  self_id = thd_begin(ender, 0, 1, 0);
  check(self_id > 0, "thd_begin of the self-ending thread");
  thd_resume(self_id);
  sleep(40);
  check(after_self_end == 0, "a thread that ends itself stops at once");
  check(self_result == 0, "without storing thd_end's result");

  t = thd_begin(spinner, 0, 0, 0);
  sleep(20);
  check(thd_end(t) == 1, "thd_end of a thread busy calling builtins");

  // The main thread and 31 sleepers fill the table (sleeping long enough
  // that none ends while a slow host is still starting the others).
  last = 0;
  for (i = 0; i < 31; i++) {
    last = thd_begin(sleeper, 1000, 0, 0);
    if (last < 0) break;
  }
  check(last > 0, "31 more threads start");
  check(thd_begin(sleeper, 10, 0, 0) == -1, "the 33rd thread is refused");
  sleep(1300);
  check(thd_begin(sleeper, 10, 0, 0) >= 0, "a finished thread's slot is reused");
  sleep(50);
  return failures;
}
