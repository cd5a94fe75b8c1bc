/* The C++ module's greeting, callable from C. */
#ifndef GREET_H
#define GREET_H

#ifdef __cplusplus
extern "C" {
#endif

void greet_from_cpp(const char *who);

#ifdef __cplusplus
}
#endif

#endif
