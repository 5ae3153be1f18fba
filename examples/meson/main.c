/* The example program: prints the build number that Tickwright counted. */
#include <stdio.h>

#include "hello_build.h"

int main(void) {
  printf("hello, build %s\n", HELLO_BUILD_STR);
  return 0;
}
