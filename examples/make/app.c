/* The example program: prints the build number that Tickwright counted. */
#include <stdio.h>

#include "app_build.h"

int main(void) {
  printf("app, build %s\n", APP_BUILD_STR);
  return 0;
}
