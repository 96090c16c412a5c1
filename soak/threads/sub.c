// Called by the soak workers: a little work, then a known result.
int main() {
  int i;
  int s;
  s = 0;
  for (i = 0; i < 200; i++) s = s + i;
  if (s != 19900) return 0;
  return 7;
}
