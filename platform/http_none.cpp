// Where the program was built without an HTTP library: no request is made.
#include "http.h"

const bool kHttpAvailable = false;

HttpServer* OpenHttpServer(const char*, int, int, char* problem, size_t cap) {
    if (cap > 0) problem[0] = '\0';
    return nullptr;
}
int HttpGet(HttpServer*, const char*, std::string*, size_t, char*, size_t) { return 0; }
bool HttpPutLater(HttpServer*, const char*, std::string_view) { return false; }
int HttpFinish(HttpServer*, int, char*, size_t) { return 0; }
void CloseHttpServer(HttpServer*) {}
