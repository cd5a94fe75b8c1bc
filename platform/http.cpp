// The parts of a URL of the object cache's server, for both systems' requests.
// Only what a request line and its headers can carry whole is taken: no
// white space or control bytes anywhere, no query or fragment.
#include <cstring>

#include "http.h"
#include "text.h"

namespace {

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    c = AsciiUpper(c);
    return c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
}

// Decodes %XX in text; false when a "%" is not followed by two hex digits.
bool PercentDecode(std::string_view text, std::string* out) {
    out->clear();
    for (size_t i = 0; i < text.size(); i++) {
        if (text[i] != '%') {
            *out += text[i];
            continue;
        }
        int high = i + 2 < text.size() ? HexDigit(text[i + 1]) : -1;
        int low = high >= 0 ? HexDigit(text[i + 2]) : -1;
        if (low < 0) return false;
        *out += static_cast<char>(high * 16 + low);
        i += 2;
    }
    return true;
}

std::string Base64(std::string_view bytes) {
    static const char digits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    for (size_t i = 0; i < bytes.size(); i += 3) {
        unsigned n = static_cast<unsigned char>(bytes[i]) << 16;
        if (i + 1 < bytes.size()) n |= static_cast<unsigned char>(bytes[i + 1]) << 8;
        if (i + 2 < bytes.size()) n |= static_cast<unsigned char>(bytes[i + 2]);
        out += digits[n >> 18];
        out += digits[(n >> 12) & 63];
        out += i + 1 < bytes.size() ? digits[(n >> 6) & 63] : '=';
        out += i + 2 < bytes.size() ? digits[n & 63] : '=';
    }
    return out;
}

bool Printable(std::string_view text) {
    for (char c : text)
        if (c <= ' ' || c == '\x7f' || static_cast<unsigned char>(c) >= 0x80) return false;
    return true;
}

// The port after a host, from ":"; false unless 1 to 65535.
bool ParsePort(std::string_view text, int* port) {
    if (text.size() < 2 || text.size() > 6 || text[0] != ':') return false;
    int n = 0;
    for (char c : text.substr(1)) {
        if (c < '0' || c > '9') return false;
        n = n * 10 + (c - '0');
    }
    *port = n;
    return n >= 1 && n <= 65535;
}

}  // namespace

bool ParseHttpUrl(const char* url, HttpUrl* parts) {
    std::string_view rest(url);
    if (SamePrefix(url, "https://", 8)) {
        parts->secure = true;
        rest.remove_prefix(8);
    } else if (SamePrefix(url, "http://", 7)) {
        parts->secure = false;
        rest.remove_prefix(7);
    } else {
        return false;
    }
    if (!Printable(rest) || rest.find_first_of("?#") != rest.npos) return false;
    size_t slash = rest.find('/');
    std::string_view authority = rest.substr(0, slash);
    std::string_view path = slash == rest.npos ? "" : rest.substr(slash);
    while (!path.empty() && path.back() == '/') path.remove_suffix(1);
    parts->path = path;
    parts->authorization.clear();
    size_t at = authority.rfind('@');
    if (at != authority.npos && at > 0) {
        std::string_view userinfo = authority.substr(0, at);
        size_t colon = userinfo.find(':');
        std::string user, password;
        if (!PercentDecode(userinfo.substr(0, colon), &user)) return false;
        if (colon != userinfo.npos && !PercentDecode(userinfo.substr(colon + 1), &password)) return false;
        parts->authorization = "Basic " + Base64(user + ":" + password);
    }
    if (at != authority.npos) authority.remove_prefix(at + 1);
    // The port follows the host, or an IPv6 address's "]".
    std::string_view host = authority.substr(0, authority.find(':'));
    if (!authority.empty() && authority[0] == '[') {
        size_t close = authority.find(']');
        if (close == authority.npos || close < 2) return false;
        host = authority.substr(0, close + 1);
    }
    // A name's letters, digits, dots and hyphens, or an address.
    if (host.empty() || (host[0] != '[' && host.find_first_not_of("abcdefghijklmnopqrstuvwxyz"
                                                                  "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789.-_") !=
                                               host.npos)) {
        return false;
    }
    if (host[0] == '[' ? host.find_first_of("[]", 1) != host.size() - 1 : host.find_first_of("[]") != host.npos)
        return false;
    parts->host = host;
    parts->port = parts->secure ? 443 : 80;
    if (host.size() < authority.size() && !ParsePort(authority.substr(host.size()), &parts->port)) return false;
    parts->shown = (parts->secure ? "https://" : "http://") + std::string(authority) + parts->path;
    return true;
}

bool IsRequestPath(const char* path) {
    return Printable(path) && !strpbrk(path, "?#");
}
