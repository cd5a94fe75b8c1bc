// Requests through the system's WinHTTP, each made in turn by its thread:
// the GETs by the thread that opened the server, the PUTs by the server's
// own. Both use one session, whose connections WinHTTP keeps open between
// requests; each request has a handle of its own. A PUT under way is cut
// short by closing its handle from the other thread, as WinHTTP allows;
// where the system's WinHTTP does not stop for that (Wine's), the PUT ends
// when its time is out.
#include <windows.h>
#include <winhttp.h>

#include <atomic>
#include <deque>

#include "http.h"

const bool kHttpAvailable = true;
#include "text.h"

// cppcheck-suppress ctuOneDefinitionRuleViolation
struct HttpServer {
    HttpUrl url;
    int connect_ms, answer_ms;
    HINTERNET session, connection;
    std::wstring get_headers, put_headers;
    // Shared with the server's thread, under lock.
    CRITICAL_SECTION lock;
    CONDITION_VARIABLE changed;  // a PUT sent, asked for, or the end asked for
    HANDLE thread;               // null until a PUT is asked for
    struct Put {
        std::string path, body;
    };
    std::deque<Put> waiting;
    size_t waiting_bytes;
    bool sending;             // a PUT is under way
    HINTERNET putting;        // its request, until closed
    bool stopping;            // what waits is not sent; the thread ends
    bool refused;             // a PUT was refused: no more are sent
    std::string unreachable;  // why no more requests are made, or ""
    int unstored;             // PUTs asked for that stored nothing
    std::string reason;       // for the first of those
};

namespace {

std::wstring Widened(const std::string& ascii) {
    return std::wstring(ascii.begin(), ascii.end());
}

std::string Reason(DWORD error) {
    switch (error) {
    case ERROR_WINHTTP_TIMEOUT:
    case WSAETIMEDOUT: return "no answer in time";
    case ERROR_WINHTTP_CANNOT_CONNECT: return "cannot connect to the server";
    case ERROR_WINHTTP_CONNECTION_ERROR: return "the connection was closed";
    case ERROR_WINHTTP_NAME_NOT_RESOLVED: return "the server's name is not known";
    case ERROR_WINHTTP_SECURE_FAILURE: return "the server's certificate is not trusted, or TLS failed";
    case ERROR_WINHTTP_INVALID_SERVER_RESPONSE: return "not an HTTP answer";
    case ERROR_WINHTTP_OPERATION_CANCELLED: return "not finished in time";
    case ERROR_NOT_ENOUGH_MEMORY: return "out of memory";
    }
    return "WinHTTP error " + std::to_string(error);
}

// What a request found: its status (0 when no whole answer came, why says
// why), the body when wanted, whether it was longer than most.
struct Answer {
    int status;
    std::string* body;  // kept when 200, or null
    size_t most;
    bool too_long;
    std::string why;
};

// The answer's body, which is read whole so that the connection serves the
// next request; each read waits at most until the request's time is out.
bool ReadAnswer(HINTERNET request, ULONGLONG end, Answer* answer) {
    wchar_t length[24];
    DWORD size = sizeof length;
    bool told = WinHttpQueryHeaders(request, WINHTTP_QUERY_CONTENT_LENGTH, WINHTTP_HEADER_NAME_BY_INDEX, length,
                                    &size, WINHTTP_NO_HEADER_INDEX);
    unsigned long long expected = told ? _wcstoui64(length, nullptr, 10) : 0, got = 0;
    bool keep = answer->body && answer->status == 200;
    for (;;) {
        ULONGLONG now = GetTickCount64();
        DWORD left = now < end ? static_cast<DWORD>(end - now) : 1;
        WinHttpSetOption(request, WINHTTP_OPTION_RECEIVE_TIMEOUT, &left, sizeof left);
        char block[16384];
        DWORD n = 0;
        if (!WinHttpReadData(request, block, sizeof block, &n)) return false;
        if (n == 0) break;
        got += n;
        if (keep && n > answer->most - answer->body->size()) {
            answer->too_long = true;
            return false;
        }
        if (keep) answer->body->append(block, n);
    }
    if (told && got != expected) SetLastError(ERROR_WINHTTP_CONNECTION_ERROR);
    return !told || got == expected;
}

// Makes one request with the headers and body to send; returns its handle,
// or null. A PUT's handle is kept in the server while it is under way, for
// StopPuts to close, which cuts it short; it is null once closed.
HINTERNET Request(HttpServer* server, const wchar_t* method, const char* path, const std::wstring& headers,
                  std::string_view send, Answer* answer) {
    ULONGLONG end = GetTickCount64() + server->answer_ms;
    bool put = !answer->body;
    std::wstring where = Widened(server->url.path + "/" + path);
    HINTERNET request = WinHttpOpenRequest(server->connection, method, where.c_str(), nullptr, WINHTTP_NO_REFERER,
                                           WINHTTP_DEFAULT_ACCEPT_TYPES,
                                           WINHTTP_FLAG_ESCAPE_DISABLE | (server->url.secure ? WINHTTP_FLAG_SECURE : 0));
    if (request && put) {
        EnterCriticalSection(&server->lock);
        if (server->stopping) {
            WinHttpCloseHandle(request);
            request = nullptr;
            SetLastError(ERROR_WINHTTP_OPERATION_CANCELLED);
        }
        server->putting = request;
        LeaveCriticalSection(&server->lock);
    }
    DWORD status = 0, size = sizeof status;
    DWORD answer_ms = server->answer_ms;
    bool made = request && WinHttpSetOption(request, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &answer_ms, sizeof answer_ms) &&
                WinHttpSendRequest(request, headers.empty() ? WINHTTP_NO_ADDITIONAL_HEADERS : headers.c_str(),
                                   static_cast<DWORD>(-1), const_cast<char*>(send.data()),
                                   static_cast<DWORD>(send.size()), static_cast<DWORD>(send.size()), 0) &&
                WinHttpReceiveResponse(request, nullptr) &&
                WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                                    WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX);
    answer->status = static_cast<int>(status);
    if (!made || !ReadAnswer(request, end, answer)) {
        answer->status = 0;
        if (answer->body) answer->body->clear();
        answer->why = std::string(put ? "PUT " : "GET ") + server->url.shown + "/" + path + ": " +
                      (answer->too_long ? "longer than " + std::to_string(answer->most) + " bytes"
                                        : Reason(GetLastError()));
    } else if (status != 200 && answer->body) {
        answer->body->clear();
    }
    return request;
}

// Counts a PUT that stored nothing, under lock.
void Unstored(HttpServer* server, const std::string& why) {
    if (server->unstored++ == 0) server->reason = why;
}

DWORD WINAPI SendPuts(void* arg) {
    HttpServer* server = static_cast<HttpServer*>(arg);
    EnterCriticalSection(&server->lock);
    for (;;) {
        while (server->waiting.empty() && !server->stopping)
            SleepConditionVariableCS(&server->changed, &server->lock, INFINITE);
        if (server->waiting.empty()) break;
        HttpServer::Put put = std::move(server->waiting.front());
        server->waiting.pop_front();
        server->waiting_bytes -= put.body.size();
        if (server->stopping || server->refused || !server->unreachable.empty()) {
            Unstored(server, "PUT " + server->url.shown + "/" + put.path + ": not sent after an earlier failure or in time");
        } else {
            server->sending = true;
            LeaveCriticalSection(&server->lock);
            Answer answer = {0, nullptr, 0, false, ""};
            Request(server, L"PUT", put.path.c_str(), server->put_headers, put.body, &answer);
            EnterCriticalSection(&server->lock);
            if (server->putting) WinHttpCloseHandle(server->putting);
            server->putting = nullptr;
            server->sending = false;
            if (answer.status / 100 != 2) {
                if (answer.status) {
                    server->refused = true;
                    answer.why = "PUT " + server->url.shown + "/" + put.path + ": HTTP status " + std::to_string(answer.status);
                } else if (server->stopping) {
                    answer.why = "PUT " + server->url.shown + "/" + put.path + ": not finished in time";
                } else if (server->unreachable.empty()) {
                    server->unreachable = answer.why;
                }
                Unstored(server, answer.why);
            }
        }
        WakeAllConditionVariable(&server->changed);
    }
    LeaveCriticalSection(&server->lock);
    return 0;
}

// Asks the thread to end, and waits until it has, when it was started.
void StopPuts(HttpServer* server) {
    EnterCriticalSection(&server->lock);
    server->stopping = true;
    if (server->putting) WinHttpCloseHandle(server->putting);
    server->putting = nullptr;
    WakeAllConditionVariable(&server->changed);
    HANDLE thread = server->thread;
    server->thread = nullptr;
    LeaveCriticalSection(&server->lock);
    if (thread) {
        WaitForSingleObject(thread, INFINITE);
        CloseHandle(thread);
    }
}

}  // namespace

HttpServer* OpenHttpServer(const char* url, int connect_ms, int answer_ms, char* problem, size_t cap) {
    CopyCut(problem, cap, "");
    HttpUrl parts;
    if (!ParseHttpUrl(url, &parts)) return nullptr;
    HttpServer* server = new HttpServer{};
    server->url = parts;
    server->connect_ms = connect_ms;
    server->answer_ms = answer_ms;
    if (!parts.authorization.empty()) server->get_headers = Widened("Authorization: " + parts.authorization + "\r\n");
    server->put_headers = server->get_headers + L"Content-Type: application/octet-stream\r\n";
    // An IPv6 address is named to WinHTTP without its brackets.
    std::string host = parts.host[0] == '[' ? parts.host.substr(1, parts.host.size() - 2) : parts.host;
    DWORD never = WINHTTP_OPTION_REDIRECT_POLICY_NEVER;
    server->session = WinHttpOpen(L"ZORBEX", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                                  WINHTTP_NO_PROXY_BYPASS, 0);
    if (server->session && WinHttpSetTimeouts(server->session, connect_ms, connect_ms, answer_ms, answer_ms) &&
        WinHttpSetOption(server->session, WINHTTP_OPTION_REDIRECT_POLICY, &never, sizeof never) &&
        (server->connection = WinHttpConnect(server->session, Widened(host).c_str(),
                                             static_cast<INTERNET_PORT>(parts.port), 0))) {
        InitializeCriticalSection(&server->lock);
        InitializeConditionVariable(&server->changed);
        return server;
    }
    CopyCut(problem, cap, ("WinHTTP: " + Reason(GetLastError())).c_str());
    if (server->session) WinHttpCloseHandle(server->session);
    delete server;
    return nullptr;
}

int HttpGet(HttpServer* server, const char* path, std::string* body, size_t most, char* problem, size_t cap) {
    body->clear();
    CopyCut(problem, cap, "");
    EnterCriticalSection(&server->lock);
    std::string unreachable = server->unreachable;
    LeaveCriticalSection(&server->lock);
    if (!unreachable.empty()) {
        CopyCut(problem, cap, unreachable.c_str());
        return 0;
    }
    if (!IsRequestPath(path)) {
        CopyCut(problem, cap, ("GET " + server->url.shown + "/" + path + ": not a request's path").c_str());
        return 0;
    }
    Answer answer = {0, body, most, false, ""};
    HINTERNET request = Request(server, L"GET", path, server->get_headers, "", &answer);
    if (request) WinHttpCloseHandle(request);
    if (answer.status) return answer.status;
    CopyCut(problem, cap, answer.why.c_str());
    if (answer.too_long) return 0;
    EnterCriticalSection(&server->lock);
    if (server->unreachable.empty()) server->unreachable = answer.why;
    LeaveCriticalSection(&server->lock);
    return 0;
}

bool HttpPutLater(HttpServer* server, const char* path, std::string_view body) {
    EnterCriticalSection(&server->lock);
    const char* why = nullptr;
    if (server->refused || !server->unreachable.empty() || server->stopping) why = "not sent after an earlier failure";
    else if (!IsRequestPath(path)) why = "not a request's path";
    else if (body.size() > MAXDWORD) why = "too large";
    else if (!server->waiting.empty() && server->waiting_bytes + body.size() > kHttpWaitingBytes) why = "too much waiting to be sent";
    else if (!server->thread && !(server->thread = CreateThread(nullptr, 0, SendPuts, server, 0, nullptr))) why = "no thread to send it";
    if (why) {
        Unstored(server, "PUT " + server->url.shown + "/" + path + ": " + why);
    } else {
        server->waiting.push_back({path, std::string(body)});
        server->waiting_bytes += body.size();
        WakeAllConditionVariable(&server->changed);
    }
    LeaveCriticalSection(&server->lock);
    return !why;
}

int HttpFinish(HttpServer* server, int wait_ms, char* problem, size_t cap) {
    ULONGLONG end = GetTickCount64() + wait_ms;
    EnterCriticalSection(&server->lock);
    for (;;) {
        ULONGLONG now = GetTickCount64();
        if ((!server->sending && server->waiting.empty()) || now >= end) break;
        SleepConditionVariableCS(&server->changed, &server->lock, static_cast<DWORD>(end - now));
    }
    LeaveCriticalSection(&server->lock);
    StopPuts(server);
    EnterCriticalSection(&server->lock);
    int unstored = server->unstored;
    CopyCut(problem, cap, server->reason.c_str());
    LeaveCriticalSection(&server->lock);
    return unstored;
}

void CloseHttpServer(HttpServer* server) {
    if (!server) return;
    StopPuts(server);
    WinHttpCloseHandle(server->connection);
    WinHttpCloseHandle(server->session);
    DeleteCriticalSection(&server->lock);
    delete server;
}
