// A walk through what IFileIOStream does, on a small file of fixed-width
// stock records: "name      qty\n", 16 bytes each.
//
//   kfdemo            works in a new temporary folder, removed at the end
//   kfdemo FILE       makes FILE (which must not exist yet) and leaves it there
//   kfdemo DIR        makes DIR/stock.dat (which must not exist yet) and leaves it
//
// Every line it prints says what the library did, not what it should do:
// examples/kfdemo.out holds the expected transcript, which CI compares.
#include "iexcept.hpp"
#include "ifilestr.hpp"
#include "iomanip.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <string>
#include <unistd.h>

namespace {

constexpr int kRecord = 16; // 10 name + 5 quantity + newline

void writeRecord(ostream& out, const std::string& name, int quantity) {
  out << setiosflags(ios::left) << setw(10) << name.c_str() << resetiosflags(ios::left) << setw(5) << quantity
      << '\n';
}

void readRecord(istream& in, std::string& name, int& quantity) {
  char field[11] = {};
  in.read(field, 10);
  name = field;
  name.erase(name.find_last_not_of(' ') + 1);
  in >> quantity;
  in.ignore(1); // the newline
}

void show(const char* what) { std::cout << "\n== " << what << '\n'; }

void dump(IFileIOStream& file) {
  file.seekg(0);
  std::string line;
  for (int n = 0; getline(file, line); ++n)
    std::cout << "   record " << n << " @" << std::setw(3) << n * kRecord << ": |" << line << "|\n";
  file.clear();
}

void expectFailure(const char* what, auto&& attempt) {
  try {
    attempt();
    std::cout << "   " << what << ": unexpectedly succeeded\n";
  } catch (const IException& error) {
    std::cout << "   " << what << ":\n     " << error.what() << '\n';
  }
}

int run(const std::string& path) {
  std::cout << "kelfile demo on " << path << '\n';

  show("create it: out | trunc | noreplace (the file must not exist yet)");
  {
    IFileIOStream stock(path, ios::out | ios::trunc | ios::noreplace, 0);
    writeRecord(stock, "apples", 12);
    writeRecord(stock, "pears", 7);
    writeRecord(stock, "plums", 30);
    std::cout << "   3 records written, position " << stock.tellp() << '\n';
  }

  show("append: two streams with app on one file; a seek moves where one reads, every write goes to the end");
  {
    // The sharing mode ios::in | ios::out lets the other stream in.
    IFileIOStream reader(path, ios::in | ios::app, ios::in | ios::out);
    IFileIOStream writer(path, ios::app, ios::in | ios::out);
    reader.seekg(0);
    std::string name;
    int quantity = 0;
    readRecord(reader, name, quantity);
    writeRecord(reader, "quinces", 3);
    reader.flush();
    std::cout << "   the reader read \"" << name << "\" at 0, wrote \"quinces\", flushed: its write ended at "
              << reader.tellp() << '\n';
    writeRecord(writer, "figs", 40);
    writer.flush();
    std::cout << "   the writer wrote \"figs\", flushed: its write ended at " << writer.tellp() << '\n';
  }

  IFileIOStream stock(path, ios::in | ios::out | ios::nocreate, ios::in);
  dump(stock);

  show("update in place: read a record, overwrite the next one, no seek in between");
  stock.seekg(kRecord); // record 1
  std::string name;
  int quantity = 0;
  readRecord(stock, name, quantity);
  writeRecord(stock, "plums", quantity * 2);
  std::string next;
  int nextQuantity = 0;
  readRecord(stock, next, nextQuantity);
  std::cout << "   read \"" << name << "\" (" << quantity << "), wrote record 2 as \"plums\" (" << quantity * 2
            << "), read on: \"" << next << "\" (" << nextQuantity << "), now at " << stock.tellg() << '\n';
  dump(stock);

  show("read back with seekg / tellg");
  stock.seekg(3 * kRecord);
  streampos at = stock.tellg();
  readRecord(stock, name, quantity);
  std::cout << "   at " << at << ": \"" << name << "\" " << quantity << '\n';
  stock.seekg(-kRecord, ios::end);
  at = stock.tellg();
  readRecord(stock, name, quantity);
  std::cout << "   last record, at " << at << ": \"" << name << "\" " << quantity << '\n';

  show("put a character back");
  stock.seekg(0);
  int first = stock.get();
  stock.putback(static_cast<char>(first));
  std::cout << "   got '" << static_cast<char>(first) << "', put it back; next get gives '"
            << static_cast<char>(stock.get()) << "'\n";
  stock.seekg(0);
  if (stock.putback('>')) {
    std::cout << "   '>' put back in front of the file's first byte: accepted\n";
  } else {
    // A refused putback leaves badbit (4 here, the classic value) and no
    // exception; until it is cleared, every operation fails.
    std::cout << "   '>' put back in front of the file's first byte: refused, rdstate() " << stock.rdstate() << '\n';
    stock.clear();
  }
  std::cout << "   then get gives '" << static_cast<char>(stock.get()) << "'\n";

  show("size and position: seekg(0, ios::end), then tellg()");
  stock.seekg(0, ios::end);
  const streampos size = stock.tellg();
  std::cout << "   size " << size << " bytes = " << size / kRecord << " records\n";
  stock.close();

  show("clear errors instead of a silent failbit");
  std::string missing = path + ".missing";
  expectFailure("nocreate on a missing file", [&] { IFileIOStream f(missing, ios::out | ios::nocreate, 0); });
  expectFailure("noreplace on an existing file",
                [&] { IFileIOStream f(path, ios::out | ios::trunc | ios::noreplace, 0); });
  const std::string folder = std::filesystem::absolute(path).lexically_normal().parent_path().string();
  expectFailure("a directory", [&] { IFileIOStream f(folder, ios::in, 0); });
  return 0;
}

} // namespace

int main(int argc, char** argv) {
  try {
    if (argc > 2) {
      std::cerr << "usage: kfdemo [FILE | DIR]\n";
      return 2;
    }
    if (argc == 2) {
      const std::filesystem::path target = argv[1];
      return run(std::filesystem::is_directory(target) ? (target / "stock.dat").string() : target.string());
    }

    char folder[] = "/tmp/kfdemo-XXXXXX";
    if (!mkdtemp(folder)) {
      std::perror("kfdemo: mkdtemp");
      return 1;
    }
    int rc = run(std::string(folder) + "/stock.dat");
    std::filesystem::remove_all(folder);
    return rc;
  } catch (const std::exception& error) {
    std::cerr << "kfdemo: " << error.what() << '\n';
    return 1;
  }
}
