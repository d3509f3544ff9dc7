// The updater's entry point: argv in, exit code out.
int main() { return 0; }
