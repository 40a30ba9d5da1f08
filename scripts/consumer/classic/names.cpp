// A classic program with names of its own that POSIX also uses: the
// library's headers must not declare <unistd.h> behind its back.
#include <fstream.h>
#include <iomanip.h>
#include <iostream.h>

struct link {
  const char* from;
  const char* to;
};

static int pipe = 3;
static int sleep(int hours) { return hours * 60; }
static int read(link& l) { return l.from[0]; }
static int write(const link& l) { return l.to[0]; }
static int close(int what) { return what + pipe; }

int main() {
  link l = {"alpha", "beta"};
  cout << setw(4) << read(l) << setw(4) << write(l) << setw(5) << sleep(2) << setw(3) << close(1) << endl;
  return 0;
}
