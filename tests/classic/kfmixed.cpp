// A classic program that mixes C stdio and the standard streams on the same
// input and output, as classic programs do: each value it reads is printed
// with the way it was read, the lines going out alternately through printf,
// puts and cout, the messages through fprintf, cerr, clog and fputs. Given
// "pushback" or "switch", it runs one of the shorter scripts below instead.
#include <iostream.h>
#include <stdio.h>
#include <string.h>

namespace {

// An ungetc of another byte than the one read, before cin has read: stdio
// keeps the rest of its buffer aside while the pushed-back byte is read.
int pushBackThenReadCin() {
  int c = getchar();
  ungetc('X', stdin);
  cout << "got " << static_cast<char>(c) << ", then ";
  char ch = 0;
  while (cin.get(ch))
    cout << ch;
  cout << endl;
  return 0;
}

// The switch to buffers of their own after cin has read, while stdio holds
// the byte its look-ahead pushed back: cin must not skip it.
int switchWhileStdioHolds() {
  int a = 0, b = 0, c = 0;
  char word[16] = "";
  cin >> a;
  if (scanf("%d", &b) != 1)
    return 1;
  bool was = ios::sync_with_stdio(false);
  char ch = 0;
  cin.get(ch);
  cin >> c;
  if (scanf("%15s", word) != 1)
    return 1;
  int end = getchar();
  cout << "a=" << a << " b=" << b << " was " << was << " ch=" << static_cast<int>(ch) << " c=" << c
       << " word=" << word << " end=" << end << " then " << getchar() << endl;
  return 0;
}

} // namespace

int main(int argc, char** argv) {
  if (argc > 1)
    return strcmp(argv[1], "pushback") == 0 ? pushBackThenReadCin() : switchWhileStdioHolds();
  int a = 0, b = 0, d = 0, e = 0, f = -1;
  char line[64] = "", word[16] = "", rest[64] = "";
  char ch = 0;

  fprintf(stderr, "e1 stdio\n");
  cerr << "e2 cerr\n";
  clog << "e3 clog\n";
  fputs("e4 stdio\n", stderr);

  printf("prompt? ");
  if (scanf("%d", &a) != 1)
    return 1;
  printf("a=%d\n", a);
  cin >> b;
  cout << "b=" << b << '\n';
  int c = getchar();
  char text[16];
  snprintf(text, sizeof text, "c=%d", c);
  puts(text);
  cin >> d;
  cout << "d=" << d << '\n';
  if (!fgets(line, sizeof line, stdin))
    return 1;
  printf("line=[%s]\n", line);
  cin.get(ch);
  cout << "ch=" << ch << '\n';
  if (scanf("%15s", word) != 1)
    return 1;
  printf("word=%s\n", word);
  cin.getline(rest, sizeof rest);
  cout << "rest=[" << rest << "]\n";
  int g = getchar();
  ungetc(g, stdin);
  cin >> e;
  cout << "e=" << e << ", peeked " << static_cast<char>(g) << '\n';
  int h = getchar();
  printf("h=%d\n", h);
  cin >> f;
  cout << "f=" << f << (cin.eof() ? " eof" : "") << endl;
  printf("end %d\n", getchar());
  return 0;
}
