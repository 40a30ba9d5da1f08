// A classic program that prompts with printf and answers with cout, and
// reads with scanf and cin in turn: in step with C stdio by default.
#include <iostream.h>
#include <stdio.h>

int main() {
  int first = 0, second = 0;
  printf("first? ");
  scanf("%d", &first);
  cout << "second? ";
  cin >> second;
  int newline = getchar();
  char rest[32] = "";
  fgets(rest, sizeof rest, stdin);
  printf("sum %d, then %d and %s", first + second, newline, rest);
  cout << "done" << endl;
  return 0;
}
