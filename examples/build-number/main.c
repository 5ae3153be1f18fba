/* The example program: prints the build number that Tickwright counted. */
#include <stdio.h>

#include "greeting.h"
#include "hello_build.h"

int main(void) {
  printf("%s, build %s\n", greeting(), HELLO_BUILD_STR);
  return 0;
}
