// A program of a kelfile user: keeps a numbered list of notes in a file,
// adding the words given on the command line, and prints the list.
#include <iomanip.h>
#include <iostream.h>

#include <iexcept.hpp>
#include <ifilestr.hpp>

#include <string>

int main(int argc, char* argv[]) {
  if (argc < 2) {
    cerr << "usage: notes FILE [NOTE...]" << endl;
    return 2;
  }
  try {
    IFileIOStream notes(argv[1], ios::in | ios::out, 0);
    int count = 0;
    std::string line;
    while (getline(notes, line))
      ++count;
    notes.clear(); // the end of the file set eofbit and failbit: write on from here
    for (int i = 2; i < argc; ++i)
      notes << setw(3) << ++count << ' ' << argv[i] << '\n';

    notes.seekg(0);
    while (getline(notes, line))
      cout << line << '\n';
  } catch (IException& error) {
    cerr << "notes: " << error.what() << endl;
    return 1;
  }
  return 0;
}
