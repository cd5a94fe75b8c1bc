// Requests through libcurl's easy interface. The GETs have a handle of
// their own, used by the thread that opened the server; the PUTs another,
// made and used by the server's own thread alone: no handle is ever used
// by two threads. Each handle keeps its connection open between requests.
#include <curl/curl.h>
#include <pthread.h>
#include <sys/socket.h>
#include <time.h>

#include <atomic>
#include <cstdio>
#include <deque>

#include "http.h"

const bool kHttpAvailable = true;
#include "text.h"

// cppcheck-suppress ctuOneDefinitionRuleViolation
struct HttpServer {
    HttpUrl url;
    std::string base;  // scheme://host:port/path, as libcurl takes it
    int connect_ms, answer_ms;
    CURL* getter;
    curl_slist* get_headers;
    char error[CURL_ERROR_SIZE];
    // Shared with the server's thread, under lock.
    pthread_mutex_t lock;
    pthread_cond_t changed;  // a PUT sent, asked for, or the end asked for
    bool started;            // the thread runs
    pthread_t thread;
    struct Put {
        std::string path, body;
    };
    std::deque<Put> waiting;
    size_t waiting_bytes;
    bool sending;             // a PUT is under way
    bool stopping;            // what waits is not sent; the thread ends
    std::atomic<bool> abandon;  // the PUT under way is cut short
    bool refused;             // a PUT was refused: no more are sent
    std::string unreachable;  // why no more requests are made, or ""
    int unstored;             // PUTs asked for that stored nothing
    std::string reason;       // for the first of those
};

namespace {

// The body of a GET, kept when the status is 200 and it is at most most bytes.
struct Reading {
    CURL* handle;
    std::string* body;
    size_t most;
    bool too_long;
};

size_t ReadBody(char* bytes, size_t, size_t n, void* arg) {
    Reading* r = static_cast<Reading*>(arg);
    long status = 0;
    curl_easy_getinfo(r->handle, CURLINFO_RESPONSE_CODE, &status);
    if (status != 200) return n;
    if (n > r->most - r->body->size()) {
        r->too_long = true;
        return 0;
    }
    r->body->append(bytes, n);
    return n;
}

size_t Discard(char*, size_t, size_t n, void*) {
    return n;
}

// Connections are not inherited by the tools the program runs: one kept
// open there would outlive its use, and count against their descriptors.
curl_socket_t OpenSocket(void*, curlsocktype, curl_sockaddr* address) {
    return socket(address->family, address->socktype | SOCK_CLOEXEC, address->protocol);
}

int CutShort(void* arg, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    return static_cast<HttpServer*>(arg)->abandon.load() ? 1 : 0;
}

// A handle for the server's requests, with the headers given; null when
// libcurl cannot make one.
CURL* NewHandle(HttpServer* server, curl_slist* headers) {
    CURL* handle = curl_easy_init();
    if (!handle) return nullptr;
    curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);  // other threads and the program's own signals
    curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(handle, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(handle, CURLOPT_PATH_AS_IS, 1L);
    curl_easy_setopt(handle, CURLOPT_OPENSOCKETFUNCTION, OpenSocket);
    curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(server->connect_ms));
    curl_easy_setopt(handle, CURLOPT_TIMEOUT_MS, static_cast<long>(server->answer_ms));
    curl_easy_setopt(handle, CURLOPT_HTTPHEADER, headers);
    return handle;
}

// The headers of every request, and more; null when memory cannot be had.
curl_slist* Headers(const HttpServer* server, const char* more[]) {
    curl_slist* list = nullptr;
    std::string authorization = "Authorization: " + server->url.authorization;
    if (!server->url.authorization.empty() && !(list = curl_slist_append(list, authorization.c_str()))) return nullptr;
    for (; *more; more++) {
        curl_slist* longer = curl_slist_append(list, *more);
        if (!longer) {
            curl_slist_free_all(list);
            return nullptr;
        }
        list = longer;
    }
    return list;
}

std::string Failure(const HttpServer* server, const char* method, const char* path, CURLcode code,
                    const char* error) {
    return std::string(method) + " " + server->url.shown + "/" + path + ": " +
           (*error ? error : curl_easy_strerror(code));
}

// Counts a PUT that stored nothing, under lock.
void Unstored(HttpServer* server, const std::string& why) {
    if (server->unstored++ == 0) server->reason = why;
}

// Sends one PUT; "" when the server stored it, else why not.
std::string SendPut(HttpServer* server, CURL* putter, const HttpServer::Put& put) {
    std::string url = server->base + "/" + put.path;
    char error[CURL_ERROR_SIZE] = "";
    curl_easy_setopt(putter, CURLOPT_URL, url.c_str());
    curl_easy_setopt(putter, CURLOPT_ERRORBUFFER, error);
    curl_easy_setopt(putter, CURLOPT_POSTFIELDS, put.body.data());
    curl_easy_setopt(putter, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(put.body.size()));
    CURLcode code = curl_easy_perform(putter);
    long status = 0;
    curl_easy_getinfo(putter, CURLINFO_RESPONSE_CODE, &status);
    if (code == CURLE_ABORTED_BY_CALLBACK) return "PUT " + server->url.shown + "/" + put.path + ": not finished in time";
    if (code != CURLE_OK) return Failure(server, "PUT", put.path.c_str(), code, error);
    if (status / 100 == 2) return "";
    return "PUT " + server->url.shown + "/" + put.path + ": HTTP status " + std::to_string(status);
}

void* SendPuts(void* arg) {
    HttpServer* server = static_cast<HttpServer*>(arg);
    const char* more[] = {"Content-Type: application/octet-stream", "Expect:", nullptr};
    curl_slist* headers = Headers(server, more);
    CURL* putter = headers ? NewHandle(server, headers) : nullptr;
    if (putter) {
        curl_easy_setopt(putter, CURLOPT_CUSTOMREQUEST, "PUT");
        curl_easy_setopt(putter, CURLOPT_WRITEFUNCTION, Discard);
        curl_easy_setopt(putter, CURLOPT_XFERINFOFUNCTION, CutShort);
        curl_easy_setopt(putter, CURLOPT_XFERINFODATA, server);
        curl_easy_setopt(putter, CURLOPT_NOPROGRESS, 0L);
    }
    pthread_mutex_lock(&server->lock);
    for (;;) {
        while (server->waiting.empty() && !server->stopping) pthread_cond_wait(&server->changed, &server->lock);
        if (server->waiting.empty()) break;
        HttpServer::Put put = std::move(server->waiting.front());
        server->waiting.pop_front();
        server->waiting_bytes -= put.body.size();
        if (!putter) {
            Unstored(server, "PUT " + server->url.shown + ": libcurl cannot make a handle");
        } else if (server->stopping || server->refused || !server->unreachable.empty()) {
            Unstored(server, "PUT " + server->url.shown + "/" + put.path + ": not sent after an earlier failure or in time");
        } else {
            server->sending = true;
            pthread_mutex_unlock(&server->lock);
            std::string why = SendPut(server, putter, put);
            pthread_mutex_lock(&server->lock);
            server->sending = false;
            if (!why.empty()) {
                long status = 0;
                curl_easy_getinfo(putter, CURLINFO_RESPONSE_CODE, &status);
                if (status) server->refused = true;
                else if (server->unreachable.empty()) server->unreachable = why;
                Unstored(server, why);
            }
        }
        pthread_cond_broadcast(&server->changed);
    }
    pthread_mutex_unlock(&server->lock);
    curl_easy_cleanup(putter);
    curl_slist_free_all(headers);
    return nullptr;
}

// Asks the thread to end, and waits until it has, when it was started.
void StopPuts(HttpServer* server) {
    pthread_mutex_lock(&server->lock);
    server->stopping = true;
    server->abandon = true;
    pthread_cond_broadcast(&server->changed);
    bool started = server->started;
    server->started = false;
    pthread_mutex_unlock(&server->lock);
    if (started) pthread_join(server->thread, nullptr);
}

}  // namespace

HttpServer* OpenHttpServer(const char* url, int connect_ms, int answer_ms, char* problem, size_t cap) {
    CopyCut(problem, cap, "");
    HttpUrl parts;
    if (!ParseHttpUrl(url, &parts)) return nullptr;
    // Before any thread of libcurl's or the server's starts.
    if (curl_global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) {
        CopyCut(problem, cap, "libcurl cannot be started");
        return nullptr;
    }
    HttpServer* server = new HttpServer{};
    server->url = parts;
    server->base = (parts.secure ? "https://" : "http://") + parts.host + ":" + std::to_string(parts.port) + parts.path;
    server->connect_ms = connect_ms;
    server->answer_ms = answer_ms;
    const char* none[] = {nullptr};
    server->get_headers = Headers(server, none);
    if (!parts.authorization.empty() && !server->get_headers) {
        CopyCut(problem, cap, "out of memory");
    } else if (!(server->getter = NewHandle(server, server->get_headers))) {
        CopyCut(problem, cap, "libcurl cannot make a handle");
    } else {
        curl_easy_setopt(server->getter, CURLOPT_WRITEFUNCTION, ReadBody);
        curl_easy_setopt(server->getter, CURLOPT_ERRORBUFFER, server->error);
        pthread_mutex_init(&server->lock, nullptr);
        pthread_condattr_t clock;
        pthread_condattr_init(&clock);
        pthread_condattr_setclock(&clock, CLOCK_MONOTONIC);
        pthread_cond_init(&server->changed, &clock);
        pthread_condattr_destroy(&clock);
        return server;
    }
    curl_slist_free_all(server->get_headers);
    delete server;
    curl_global_cleanup();
    return nullptr;
}

int HttpGet(HttpServer* server, const char* path, std::string* body, size_t most, char* problem, size_t cap) {
    body->clear();
    CopyCut(problem, cap, "");
    pthread_mutex_lock(&server->lock);
    std::string unreachable = server->unreachable;
    pthread_mutex_unlock(&server->lock);
    if (!unreachable.empty()) {
        CopyCut(problem, cap, unreachable.c_str());
        return 0;
    }
    if (!IsRequestPath(path)) {
        CopyCut(problem, cap, ("GET " + server->url.shown + "/" + path + ": not a request's path").c_str());
        return 0;
    }
    std::string url = server->base + "/" + path;
    Reading reading = {server->getter, body, most, false};
    server->error[0] = '\0';
    curl_easy_setopt(server->getter, CURLOPT_URL, url.c_str());
    curl_easy_setopt(server->getter, CURLOPT_WRITEDATA, &reading);
    CURLcode code = curl_easy_perform(server->getter);
    long status = 0;
    curl_easy_getinfo(server->getter, CURLINFO_RESPONSE_CODE, &status);
    if (code == CURLE_OK && status != 0) return static_cast<int>(status);
    body->clear();
    if (reading.too_long) {
        CopyCut(problem, cap, ("GET " + server->url.shown + "/" + path + ": longer than " + std::to_string(most) + " bytes").c_str());
        return 0;
    }
    std::string why = Failure(server, "GET", path, code, server->error);
    pthread_mutex_lock(&server->lock);
    if (server->unreachable.empty()) server->unreachable = why;
    pthread_mutex_unlock(&server->lock);
    CopyCut(problem, cap, why.c_str());
    return 0;
}

bool HttpPutLater(HttpServer* server, const char* path, std::string_view body) {
    pthread_mutex_lock(&server->lock);
    const char* why = nullptr;
    if (server->refused || !server->unreachable.empty() || server->stopping) why = "not sent after an earlier failure";
    else if (!IsRequestPath(path)) why = "not a request's path";
    else if (!server->waiting.empty() && server->waiting_bytes + body.size() > kHttpWaitingBytes) why = "too much waiting to be sent";
    else if (!server->started && pthread_create(&server->thread, nullptr, SendPuts, server) != 0) why = "no thread to send it";
    if (why) {
        Unstored(server, "PUT " + server->url.shown + "/" + path + ": " + why);
    } else {
        server->started = true;
        server->waiting.push_back({path, std::string(body)});
        server->waiting_bytes += body.size();
        pthread_cond_broadcast(&server->changed);
    }
    pthread_mutex_unlock(&server->lock);
    return !why;
}

int HttpFinish(HttpServer* server, int wait_ms, char* problem, size_t cap) {
    timespec deadline;
    clock_gettime(CLOCK_MONOTONIC, &deadline);
    deadline.tv_sec += wait_ms / 1000;
    deadline.tv_nsec += wait_ms % 1000 * 1000000L;
    if (deadline.tv_nsec >= 1000000000L) {
        deadline.tv_sec++;
        deadline.tv_nsec -= 1000000000L;
    }
    pthread_mutex_lock(&server->lock);
    while ((server->sending || !server->waiting.empty()) &&
           pthread_cond_timedwait(&server->changed, &server->lock, &deadline) == 0) {}
    pthread_mutex_unlock(&server->lock);
    StopPuts(server);
    pthread_mutex_lock(&server->lock);
    int unstored = server->unstored;
    CopyCut(problem, cap, server->reason.c_str());
    pthread_mutex_unlock(&server->lock);
    return unstored;
}

void CloseHttpServer(HttpServer* server) {
    if (!server) return;
    StopPuts(server);
    curl_easy_cleanup(server->getter);
    curl_slist_free_all(server->get_headers);
    pthread_cond_destroy(&server->changed);
    pthread_mutex_destroy(&server->lock);
    delete server;
    curl_global_cleanup();
}
