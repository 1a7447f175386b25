#pragma once
// The online services' one door to HTTP: a request performed on libcurl's
// easy handle, driven in small steps so the caller stays responsive and can
// cancel. Every exchange is bounded: a connect time-out, a stall time-out, an
// optional overall time-out and a cap on the reply's size. Certificate and
// host checks stay on for https; proxies come from the environment as curl
// reads them (http_proxy, https_proxy, no_proxy).

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace Http {

// An http or https address split into its parts; the port is 0 when the
// address names none.
struct Url {
    std::string scheme;
    std::string host;
    int port = 0;
    std::string path;  // with the query; "/" when the address has none

    // scheme://host[:port]
    std::string Origin() const;
    std::string ToString() const { return Origin() + path; }
};

// Parses an absolute http or https address (a missing scheme means http);
// false for other schemes, an empty host, a bad port or blanks and control
// characters anywhere.
bool ParseUrl(const std::string& text, Url& url);

struct Limits {
    long connectTimeoutMs = 30000;
    // A transfer below one byte a second for this long is abandoned.
    long stallSeconds = 60;
    // 0: no limit on the whole exchange.
    long totalTimeoutMs = 0;
    std::size_t maxReplyBytes = 64 * 1024;
    // Redirects are followed (at most 5, http and https only) when set;
    // otherwise a 3xx reply is returned as it is.
    bool followRedirects = false;
};

// Hands out the next bytes of a request body: at most `max` into `buffer`;
// returns the count (0 at the end) or kAbortBody to abandon the request.
using BodySource = std::function<std::size_t(char* buffer, std::size_t max)>;
inline constexpr std::size_t kAbortBody = static_cast<std::size_t>(-1);

struct Request {
    enum class Method { Get, Post } method = Method::Get;
    std::string url;
    // Whole header lines without line ends ("Name: value").
    std::vector<std::string> headers;
    // The body of a POST: the text, or a source of bodySize bytes.
    std::string body;
    BodySource bodySource;
    std::uint64_t bodySize = 0;
};

struct Reply {
    bool completed = false;  // an HTTP reply arrived whole
    bool cancelled = false;  // the caller asked to stop
    bool tooLarge = false;   // the body went past the cap
    int curlCode = 0;        // CURLcode of the transfer
    long status = 0;         // HTTP status, 0 without a reply
    std::string body;        // at most Limits::maxReplyBytes

    bool Ok() const { return completed && status >= 200 && status < 300; }
};

// Called every few tens of milliseconds while the exchange runs; true stops
// it at once (the reply is then `cancelled`).
using Pump = std::function<bool()>;

// Sets libcurl up; call once before any thread runs a request (the program's
// main does). Perform calls it too, for programs that did not.
void GlobalInit();

// Runs the request to its end, a failure or a cancel; never throws.
Reply Perform(const Request& request, const Limits& limits, const Pump& pump = {});

// Why an exchange did not end in a good reply, in libcurl's words for a
// transfer that failed ("Couldn't connect to server") or as "HTTP <status>";
// "" for a good reply.
std::string FailureText(const Reply& reply);

// The form encoding of a value: every byte but letters, digits and "-._~"
// becomes %XX (upper-case digits).
std::string FormEncode(const std::string& value);

}  // namespace Http
