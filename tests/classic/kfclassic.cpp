// A program as it was written for the classic stream library, built without
// edits: it reads numbers from standard input, complains on standard error
// about anything else, and writes a report to standard output and to the file
// named by its argument.
//
//   kfclassic REPORT      exit status 0; 1 when the file fails, 2 for a bad
//                         command line, 3 when standard output fails
#include <iomanip.h>
#include <iostream.h>

#include <iexcept.hpp>
#include <ifilestr.hpp>

static void report(ostream& out, int count, double sum, double lowest, double highest) {
  out << setiosflags(ios::fixed) << setprecision(3);
  out << "count   " << setw(10) << count << '\n';
  if (count == 0)
    return;
  out << "sum     " << setw(10) << sum << '\n';
  out << "mean    " << setw(10) << sum / count << '\n';
  out << "lowest  " << setw(10) << lowest << '\n';
  out << "highest " << setw(10) << highest << '\n';
}

int main(int argc, char* argv[]) {
  if (argc != 2) {
    cerr << "usage: kfclassic REPORT" << endl;
    return 2;
  }

  cout << "numbers? "; // reading cin flushes it
  int count = 0;
  double sum = 0, lowest = 0, highest = 0;
  for (;;) {
    double x;
    if (cin >> x) {
      if (count == 0 || x < lowest)
        lowest = x;
      if (count == 0 || x > highest)
        highest = x;
      sum += x;
      ++count;
    } else if (cin.eof()) {
      break;
    } else {
      cin.clear();
      char word[32];
      cin >> word;
      cerr << "skipped '" << word << "'\n"; // cerr writes it at once
    }
  }

  try {
    IFileIOStream file(argv[1], ios::out | ios::trunc, 0);
    report(file, count, sum, lowest, highest);
    file.close();
  } catch (IException& error) {
    cerr << error.what() << endl;
    return 1;
  }

  report(cout, count, sum, lowest, highest);
  if (!cout.flush()) {
    cerr << "kfclassic: cannot write the report" << endl;
    return 3;
  }
  cout << "report in " << argv[1] << '\n'; // both left for the exit to flush
  clog << count << " numbers read\n";
  return 0;
}
