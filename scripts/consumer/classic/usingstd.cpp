// A transitional classic program: the classic headers and `using namespace
// std;` side by side. The library's headers must not declare std::ios,
// std::istream, std::ostream or std::streambuf, or these names turn ambiguous.
#include <fstream.h>
#include <iomanip.h>
#include <iostream.h>
#include <stdio.h>

using namespace std;

static void show(ostream& out, istream& in, ios& state, streambuf* buffer) {
  int n = 0;
  in >> n;
  out << "read " << n << ", state " << state.rdstate() << ", buffer " << (buffer ? "yes" : "no") << endl;
}

int main() {
  const char* path = "usingstd.txt";
  ofstream("usingstd.txt") << 42 << '\n';
  ifstream in(path);
  show(cout, in, in, in.rdbuf());
  in.close();
  remove(path);
  cout << setfill('*') << setw(6) << hex << 255 << dec << endl;
  return 0;
}
