/* The example's other header: hello_rebuilt counts when it changes. */
#ifndef GREETING_H
#define GREETING_H

const char* greeting(void);

#endif
