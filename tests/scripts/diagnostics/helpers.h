// Helpers for broken.c: the second function uses a name never declared.
int helper(int v) {
	return v + 1;
}
int other(int v) {
	return v * scale;
}
