// Requests to a server of the object cache, over HTTP or HTTPS: GETs made
// and answered in turn, PUTs sent in the background by a thread of the
// server's own, so that storing never holds up the build. Connections are
// kept open from one request to the next; redirects are never followed.
// HTTPS checks the server against the system's certificates. A proxy is
// used as the system's HTTP library does by default: on POSIX as libcurl's
// environment variables say (http_proxy, https_proxy, all_proxy, no_proxy), on
// Windows as the machine's WinHTTP setting does (none unless one was set
// with "netsh winhttp set proxy").
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

struct HttpServer;

// Whether this program can make requests at all: false where it was built
// without its HTTP library.
extern const bool kHttpAvailable;

// For url: http:// or https://, a host, an optional port, optionally
// user:password@ before the host for basic authentication (each percent-
// encoded), and a path that the requests' paths are put after. Returns null
// when url is not such a URL, or when requests cannot be made (problem, cap
// bytes, then says why). A request whose connection is not made within
// connect_ms, or whose answer has not come whole within answer_ms of its
// start, fails.
HttpServer* OpenHttpServer(const char* url, int connect_ms, int answer_ms, char* problem, size_t cap);

// GET url/path, from the thread that opened the server. Returns the HTTP
// status, with the body in *body when 200 (else it is empty); 0 when no
// whole answer came, with the reason in problem: no connection, no answer
// in time, the body cut short, or longer than most bytes. A server that
// gave no answer, or a body cut short, is not asked again: later GETs
// return 0 at once, and no PUT is sent any more.
int HttpGet(HttpServer* server, const char* path, std::string* body, size_t most, char* problem, size_t cap);

// The most bytes of PUTs waiting to be sent. One PUT alone may be larger.
constexpr size_t kHttpWaitingBytes = 64u << 20;

// Asks for PUT url/path with a copy of body, sent in the background; returns
// at once. False when it is not asked for: a PUT failed before, or a GET
// got no whole answer (HttpFinish says why), or the PUTs waiting hold
// kHttpWaitingBytes.
bool HttpPutLater(HttpServer* server, const char* path, std::string_view body);

// Waits at most wait_ms until the PUTs asked for are sent; then those still
// waiting are not sent, one under way is cut short as CloseHttpServer says,
// and no more are. Returns how many PUTs asked for have not stored their
// body: refused (a status other than 2xx), with no answer, not sent after a
// failure or in time, or not asked for; problem holds the reason for the
// first. After one PUT fails, no other is sent.
int HttpFinish(HttpServer* server, int wait_ms, char* problem, size_t cap);

// Ends the background thread, cutting a PUT under way short (where the
// system cannot, it ends within its timeouts), and closes the connections.
// Takes null.
void CloseHttpServer(HttpServer* server);

// Both systems' requests are made from the URL's parts, found here.
struct HttpUrl {
    bool secure;                // https
    std::string host;           // a name or an address; an IPv6 one in []
    int port;
    std::string path;           // "" or from "/", without a "/" at its end
    std::string authorization;  // "Basic ..." for user:password, or ""
    std::string shown;          // the URL without user:password, for messages
};
// False when url is not an HTTP or HTTPS URL as OpenHttpServer takes.
bool ParseHttpUrl(const char* url, HttpUrl* parts);

// Whether a request's path may be put after the URL: printable ASCII, no
// space, and no "?" or "#".
bool IsRequestPath(const char* path);
