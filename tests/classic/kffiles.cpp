// A classic file program: copies a file, counting its lines, words and
// characters, and appends what it counted to a log.
//
//   kffiles FROM TO LOG [new]   exit status 0; 1 when a file cannot be opened;
//                               with "new", TO must not exist yet
#include <fstream.h>
#include <iomanip.h>
#include <string.h>

int main(int argc, char* argv[]) {
  if (argc < 4) {
    cerr << "usage: kffiles FROM TO LOG [new]" << endl;
    return 2;
  }
  ifstream in(argv[1], ios::in | ios::nocreate);
  if (!in) {
    cerr << "kffiles: cannot open " << argv[1] << endl;
    return 1;
  }
  int mode = ios::out;
  if (argc > 4 && strcmp(argv[4], "new") == 0)
    mode |= ios::noreplace;
  ofstream out(argv[2], mode);
  if (!out) {
    cerr << "kffiles: cannot make " << argv[2] << endl;
    return 1;
  }
  long lines = 0, words = 0, chars = 0;
  int inWord = 0;
  char c = 0;
  while (in.get(c)) {
    out.put(c);
    ++chars;
    if (c == '\n')
      ++lines;
    if (c == ' ' || c == '\n' || c == '\t')
      inWord = 0;
    else if (!inWord) {
      inWord = 1;
      ++words;
    }
  }
  out.close();
  ofstream log(argv[3], ios::app);
  log << setw(6) << lines << setw(6) << words << setw(6) << chars << ' ' << argv[1] << endl;
  cout << lines << ' ' << words << ' ' << chars << endl;
  return 0;
}
