/* Prints "corvane-arch-probe <bits>": the test scripts run the x86 build of it to learn whether
   this machine can execute 32-bit programs at all. */
#include <stdio.h>

int main(void) {
  printf("corvane-arch-probe %d\n", (int)(sizeof(void *) * 8));
  return 0;
}
