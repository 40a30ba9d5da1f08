// The README's first classic file program.
#include <fstream.h>

int main() {
  ofstream out("scores.txt");            // made, or emptied
  out << "alice 42\nbob 17\n";
  out.close();

  ifstream in("scores.txt");
  if (!in) {
    cerr << "cannot read scores.txt: " << in.rdbuf()->lastErrorText() << endl;
    return 1;
  }
  char name[32];
  int score, total = 0;
  while (in >> name >> score)
    total += score;
  cout << "total " << total << endl;

  ifstream missing("nothing.txt");     // no exception: a state bit
  if (!missing)
    cout << "no nothing.txt (errno " << missing.rdbuf()->lastError() << ")" << endl;
  return 0;
}
