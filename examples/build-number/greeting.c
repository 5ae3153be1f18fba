/* A source without the counter header: hello_rebuilt counts when it changes,
   and main.c compiles again with the new number. */
#include "greeting.h"

const char* greeting(void) { return "hello"; }
