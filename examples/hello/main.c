/* Prints a greeting from this C module, then one from the C++ module. */
#include <stdio.h>

#include "greet.h"

#ifdef __NT__
#define TARGET "NT"
#else
#define TARGET "an unknown target"
#endif

int main(void)
{
    printf("Hello from C, built for %s.\n", TARGET);
    greet_from_cpp("C");
    return 0;
}
