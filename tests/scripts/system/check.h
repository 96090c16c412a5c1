// Check helper for the script tests: a failed check logs its name and
// counts; main returns the count, which becomes the exit status.
int failures;

int check(int ok, char *what) {
  if (!ok) {
    log_out("FAIL %s\n", what);
    failures++;
  }
  return ok;
}
