// Preloaded into loomreg by loomreg_perf to time a save without its flushes: every fsync and
// fdatasync succeeds at once. The difference to a normal save is what durability costs.
extern "C" int fsync(int) { return 0; }
extern "C" int fdatasync(int) { return 0; }
