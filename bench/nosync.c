// For measuring only: fsync and fdatasync that return at once, preloaded
// into a run (LD_PRELOAD) to show what it costs without the durability work.
// The tool never ships with it.
int fsync(int fd) {
  (void)fd;
  return 0;
}

int fdatasync(int fd) {
  (void)fd;
  return 0;
}
