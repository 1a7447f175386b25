#include "HttpClient.h"

#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <mutex>

namespace Http {

namespace {

// How long one wait for the sockets may last, and how often the caller's
// pump runs at most: short enough that a window never waits noticeably.
constexpr int kPollMs = 20;
constexpr auto kPumpInterval = std::chrono::milliseconds(10);

struct Transfer {
    const Request* request = nullptr;
    std::size_t maxReply = 0;
    Reply* reply = nullptr;
    std::uint64_t sent = 0;
    bool bodyAborted = false;
};

std::size_t OnWrite(char* data, std::size_t size, std::size_t count, void* user) {
    auto* t = static_cast<Transfer*>(user);
    const std::size_t n = size * count;
    if (t->reply->body.size() + n > t->maxReply) {
        t->reply->tooLarge = true;
        return 0;  // curl ends the transfer with a write error
    }
    t->reply->body.append(data, n);
    return n;
}

std::size_t OnRead(char* buffer, std::size_t size, std::size_t count, void* user) {
    auto* t = static_cast<Transfer*>(user);
    const std::size_t max = size * count;
    const Request& r = *t->request;
    if (r.bodySource) {
        const std::size_t n = r.bodySource(buffer, max);
        if (n == kAbortBody) {
            t->bodyAborted = true;
            return CURL_READFUNC_ABORT;
        }
        t->sent += n;
        return n;
    }
    const std::size_t left = r.body.size() - static_cast<std::size_t>(t->sent);
    const std::size_t n = std::min(left, max);
    std::copy_n(r.body.data() + t->sent, n, buffer);
    t->sent += n;
    return n;
}

bool IsBadUrlChar(unsigned char c) {
    return c <= ' ' || c == 0x7f;
}

}  // namespace

std::string Url::Origin() const {
    std::string origin = scheme + "://" + host;
    if (port)
        origin += ":" + std::to_string(port);
    return origin;
}

bool ParseUrl(const std::string& text, Url& url) {
    if (text.empty() || std::any_of(text.begin(), text.end(), [](char c) { return IsBadUrlChar(c); }))
        return false;
    Url out;
    std::string rest = text;
    const std::size_t schemeEnd = rest.find("://");
    if (schemeEnd == std::string::npos) {
        out.scheme = "http";
    } else {
        out.scheme = rest.substr(0, schemeEnd);
        std::transform(out.scheme.begin(), out.scheme.end(), out.scheme.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        rest = rest.substr(schemeEnd + 3);
    }
    if (out.scheme != "http" && out.scheme != "https")
        return false;
    const std::size_t pathStart = rest.find_first_of("/?#");
    std::string authority = rest.substr(0, pathStart);
    out.path = pathStart == std::string::npos ? "/" : rest.substr(pathStart);
    if (out.path[0] != '/')
        out.path = "/" + out.path;
    if (const std::size_t hash = out.path.find('#'); hash != std::string::npos)
        out.path.resize(hash);
    // No credentials in the address: they would travel unseen.
    if (authority.find('@') != std::string::npos)
        return false;
    const std::size_t colon = authority.rfind(':');
    const bool bracketed = !authority.empty() && authority.front() == '[';
    if (colon != std::string::npos && (!bracketed || authority.find(']') < colon)) {
        const std::string port = authority.substr(colon + 1);
        if (port.empty() || port.size() > 5 ||
            !std::all_of(port.begin(), port.end(), [](unsigned char c) { return std::isdigit(c); }))
            return false;
        out.port = std::stoi(port);
        if (out.port < 1 || out.port > 65535)
            return false;
        authority.resize(colon);
    }
    if (authority.empty())
        return false;
    out.host = authority;
    url = out;
    return true;
}

void GlobalInit() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

Reply Perform(const Request& request, const Limits& limits, const Pump& pump) {
    GlobalInit();
    Reply reply;
    Url url;
    if (!ParseUrl(request.url, url)) {
        reply.curlCode = CURLE_URL_MALFORMAT;
        return reply;
    }
    CURL* easy = curl_easy_init();
    CURLM* multi = curl_multi_init();
    if (!easy || !multi) {
        reply.curlCode = CURLE_FAILED_INIT;
        if (easy)
            curl_easy_cleanup(easy);
        if (multi)
            curl_multi_cleanup(multi);
        return reply;
    }
    Transfer transfer;
    transfer.request = &request;
    transfer.maxReply = limits.maxReplyBytes;
    transfer.reply = &reply;

    const std::string address = url.ToString();
    curl_easy_setopt(easy, CURLOPT_URL, address.c_str());
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, limits.connectTimeoutMs);
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_TIME, limits.stallSeconds);
    if (limits.totalTimeoutMs > 0)
        curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS, limits.totalTimeoutMs);
    if (limits.followRedirects) {
        curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L);
        curl_easy_setopt(easy, CURLOPT_MAXREDIRS, 5L);
        curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    }
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 2L);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &OnWrite);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &transfer);

    curl_slist* headers = nullptr;
    for (const std::string& h : request.headers)
        headers = curl_slist_append(headers, h.c_str());
    if (request.method == Request::Method::Post) {
        // The whole body goes at once, without waiting for the server's leave.
        headers = curl_slist_append(headers, "Expect:");
        const std::uint64_t size = request.bodySource ? request.bodySize : request.body.size();
        curl_easy_setopt(easy, CURLOPT_POST, 1L);
        curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(size));
        curl_easy_setopt(easy, CURLOPT_READFUNCTION, &OnRead);
        curl_easy_setopt(easy, CURLOPT_READDATA, &transfer);
    } else {
        curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L);
    }
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers);

    curl_multi_add_handle(multi, easy);
    auto lastPump = std::chrono::steady_clock::now() - kPumpInterval;
    int running = 1;
    CURLcode result = CURLE_OK;
    bool finished = false;
    while (!finished) {
        if (curl_multi_perform(multi, &running) != CURLM_OK) {
            result = CURLE_FAILED_INIT;
            break;
        }
        int queued = 0;
        while (CURLMsg* msg = curl_multi_info_read(multi, &queued)) {
            if (msg->msg == CURLMSG_DONE) {
                result = msg->data.result;
                finished = true;
            }
        }
        if (finished || !running)
            break;
        if (pump) {
            const auto now = std::chrono::steady_clock::now();
            if (now - lastPump >= kPumpInterval) {
                lastPump = now;
                if (pump()) {
                    reply.cancelled = true;
                    result = CURLE_ABORTED_BY_CALLBACK;
                    break;
                }
            }
        }
        curl_multi_poll(multi, nullptr, 0, kPollMs, nullptr);
    }
    if (transfer.bodyAborted)
        reply.cancelled = true;
    reply.curlCode = result;
    reply.completed = finished && result == CURLE_OK && !reply.cancelled;
    if (reply.completed)
        curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &reply.status);
    else
        reply.body.clear();

    curl_multi_remove_handle(multi, easy);
    curl_easy_cleanup(easy);
    curl_multi_cleanup(multi);
    curl_slist_free_all(headers);
    return reply;
}

std::string FailureText(const Reply& reply) {
    if (reply.Ok())
        return {};
    if (reply.tooLarge)
        return curl_easy_strerror(CURLE_FILESIZE_EXCEEDED);
    if (!reply.completed || reply.status == 0)
        return curl_easy_strerror(static_cast<CURLcode>(reply.curlCode != 0 ? reply.curlCode : CURLE_RECV_ERROR));
    return "HTTP " + std::to_string(reply.status);
}

std::string FormEncode(const std::string& value) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (const unsigned char c : value) {
        if ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '-' ||
            c == '.' || c == '_' || c == '~') {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        }
    }
    return out;
}

}  // namespace Http
