// The C++ half of the greeting.
#include <iostream>
#include <string>

#include "greet.h"

extern "C" void greet_from_cpp(const char *who)
{
    std::string caller(who);
    std::cout << "Hello from C++, called from " << caller.c_str() << ".\n";
}
