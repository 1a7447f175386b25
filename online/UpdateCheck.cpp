#include "UpdateCheck.h"

#include <QCoreApplication>
#include <QString>

#include <curl/curl.h>

#include <cstdio>
#include <cstring>

#include "PrintServiceUpload.h"

#ifndef OVH_VERSION_MAJOR
#define OVH_VERSION_MAJOR 0
#endif
#ifndef OVH_VERSION_MINOR
#define OVH_VERSION_MINOR 0
#endif
#ifndef OVH_VERSION_PATCH
#define OVH_VERSION_PATCH 0
#endif

namespace {

constexpr const char* kUpdateServer = "http://update.orvex.example/";
constexpr const char* kCheckAddressPath = "/checkupdate/updateurl.html";
constexpr int kDefaultInterval = 7;
// The first reply is one address; the second a few tagged lines, of which
// the first 1024 characters are read.
constexpr std::size_t kMaxFirstReply = 4 * 1024;
constexpr int kMaxReplyChars = 1024;
// The build number sent as the subversion.
constexpr unsigned kBuildNumber = 0;

std::string Trimmed(const std::string& s) {
    const std::size_t b = s.find_first_not_of(" \t\r\n");
    if (b == std::string::npos)
        return {};
    return s.substr(b, s.find_last_not_of(" \t\r\n") - b + 1);
}

// Local midnight of a stored "%y,%m,%d" date; false when it is not one.
bool ParseStoredDate(const std::string& text, std::time_t& when) {
    int y = 0, m = 0, d = 0;
    char extra = 0;
    if (std::sscanf(text.c_str(), "%d,%d,%d%c", &y, &m, &d, &extra) != 3)
        return false;
    if (y < 0 || y > 99 || m < 1 || m > 12 || d < 1 || d > 31)
        return false;
    std::tm tm{};
    tm.tm_year = y + 2000 - 1900;
    tm.tm_mon = m - 1;
    tm.tm_mday = d;
    tm.tm_isdst = -1;
    when = std::mktime(&tm);
    return when != static_cast<std::time_t>(-1) && tm.tm_mday == d;
}

}  // namespace

QEvent::Type CUpdateCheckEvent::EventType() {
    static const int type = QEvent::registerEventType();
    return static_cast<QEvent::Type>(type);
}

CUpdateCheck::~CUpdateCheck() {
    Stop(std::chrono::seconds(30));
}

void CUpdateCheck::SetStore(IUpdateCheckStore* store) {
    std::lock_guard lock(m_mutex);
    m_store = store;
}

void CUpdateCheck::SetReceiver(QObject* receiver) {
    std::lock_guard lock(m_mutex);
    m_receiver = receiver;
}

void CUpdateCheck::SetHost(std::string host) {
    std::lock_guard lock(m_mutex);
    m_host = std::move(host);
}

void CUpdateCheck::SetLimits(const Http::Limits& limits) {
    std::lock_guard lock(m_mutex);
    m_limits = limits;
}

CUpdateCheck::Result CUpdateCheck::GetResult() const {
    std::lock_guard lock(m_mutex);
    return m_result;
}

bool CUpdateCheck::Start(bool synchronous, const std::function<bool()>& pump) {
    std::unique_lock lock(m_mutex);
    if (!m_running) {
        if (m_thread.joinable())
            m_thread.join();  // a finished check
        m_result.status = 0;
        m_result.failure.clear();
        m_cancel = false;
        m_running = true;
        m_thread = std::thread([this, synchronous] { ThreadProc(synchronous); });
    } else if (!synchronous) {
        return true;
    }
    if (!synchronous)
        return true;
    while (m_running) {
        m_done.wait_for(lock, std::chrono::milliseconds(20));
        if (pump) {
            lock.unlock();
            if (pump())
                m_cancel = true;
            lock.lock();
        }
    }
    return m_result.status != 0;
}

void CUpdateCheck::Stop(std::chrono::milliseconds timeout) {
    m_cancel = true;
    std::unique_lock lock(m_mutex);
    m_done.wait_for(lock, timeout, [this] { return !m_running; });
    lock.unlock();
    // Cancelled, the check ends within one wait of its transfer loop.
    if (m_thread.joinable())
        m_thread.join();
}

void CUpdateCheck::Finish() {
    std::lock_guard lock(m_mutex);
    m_running = false;
    m_done.notify_all();
}

std::string CUpdateCheck::UpdateOrigin() const {
    std::string host;
    {
        std::lock_guard lock(m_mutex);
        host = m_host;
    }
    Http::Url url;
    if (host.empty())
        host = NetPrint::ServiceAddress(kUpdateServer);
    else if (host.find("://") == std::string::npos)
        host = "http://" + host;
    return Http::ParseUrl(host, url) ? url.Origin() : std::string();
}

void CUpdateCheck::ThreadProc(bool synchronous) {
    IUpdateCheckStore* store;
    {
        std::lock_guard lock(m_mutex);
        store = m_store;
    }
    if (store) {
        const std::time_t now = std::time(nullptr);
        std::time_t last = 0;
        bool due = true;
        if (!ParseStoredDate(store->ReadLastCheck(), last)) {
            // A first run (or a date that means nothing): start counting today.
            store->WriteLastCheck(FormatDate(now));
            store->WriteInterval(kDefaultInterval);
            due = synchronous;
        } else {
            const long long elapsed = (static_cast<long long>(now) - last) / 86400;
            const int interval = synchronous ? 0 : store->ReadInterval();
            // A date in the future counts as due.
            due = elapsed < 0 || elapsed >= interval;
        }
        if (due && Exchange()) {
            int next;
            {
                std::lock_guard lock(m_mutex);
                next = m_result.nextcheckindays;
            }
            store->WriteLastCheck(FormatDate(now));
            // Without a usable interval the stored one stays.
            if (next > 0)
                store->WriteInterval(next);
        }
    }
    Finish();
}

void CUpdateCheck::Fail(const std::string& why) {
    std::lock_guard lock(m_mutex);
    m_result.failure = why;
}

bool CUpdateCheck::Exchange() {
    const std::string origin = UpdateOrigin();
    if (origin.empty()) {
        Fail(curl_easy_strerror(CURLE_URL_MALFORMAT));
        return false;
    }
    Http::Limits limits;
    {
        std::lock_guard lock(m_mutex);
        limits = m_limits;
    }
    limits.followRedirects = true;
    const auto cancelled = [this] { return m_cancel.load(); };

    Http::Request first;
    first.url = origin + kCheckAddressPath;
    Http::Limits firstLimits = limits;
    firstLimits.maxReplyBytes = std::min(limits.maxReplyBytes, kMaxFirstReply);
    const Http::Reply address = Http::Perform(first, firstLimits, cancelled);
    Http::Url check;
    if (!address.Ok()) {
        Fail(Http::FailureText(address));
        return false;
    }
    if (!Http::ParseUrl(Trimmed(address.body), check)) {
        Fail(curl_easy_strerror(CURLE_WEIRD_SERVER_REPLY));
        return false;
    }

    Http::Request second;
    second.url = check.ToString() + "?" + QueryFields();
    const Http::Reply answer = Http::Perform(second, limits, cancelled);
    if (!answer.Ok()) {
        Fail(Http::FailureText(answer));
        return false;
    }
    const std::string text = QString::fromUtf8(answer.body).left(kMaxReplyChars).toUtf8().toStdString();
    // Only a found update is announced; "nothing new" needs no window.
    if (ParseReply(text)) {
        std::lock_guard lock(m_mutex);
        if (m_result.status != 0 && m_receiver)
            QCoreApplication::postEvent(m_receiver, new CUpdateCheckEvent);
    }
    return true;
}

bool CUpdateCheck::ParseReply(const std::string& reply) {
    if (reply.empty())
        return false;
    std::lock_guard lock(m_mutex);
    if (const std::string s = GetXmlTagValue(reply, "status"); !s.empty())
        m_result.status = std::atoi(s.c_str());
    m_result.message40 = GetXmlTagValue(reply, "message40");
    m_result.message80 = GetXmlTagValue(reply, "message80");
    m_result.message250 = GetXmlTagValue(reply, "message250");
    m_result.updateurl = GetXmlTagValue(reply, "updateurl");
    m_result.moreinfourl = GetXmlTagValue(reply, "moreinfourl");
    if (const std::string s = GetXmlTagValue(reply, "nextcheckindays"); !s.empty())
        m_result.nextcheckindays = std::atoi(s.c_str());
    return true;
}

std::string CUpdateCheck::GetXmlTagValue(const std::string& reply, const std::string& tag) {
    const std::size_t open = reply.find("<" + tag);
    if (open == std::string::npos)
        return {};
    const std::size_t close = reply.find("</" + tag + ">", open);
    const std::size_t gt = reply.find('>', open);
    if (close == std::string::npos || gt == std::string::npos || gt + 1 >= close)
        return {};
    return reply.substr(gt + 1, close - gt - 1);
}

std::string CUpdateCheck::UrlEscape(const std::string& value) {
    static const char kDigits[] = "0123456789ABCDEF";
    static const char kEscaped[] = "\"<>%\\^[]`+$,@:;/!#?=&";
    std::string out;
    for (const unsigned char c : value) {
        if (c < 33 || c > 122 || std::strchr(kEscaped, c)) {
            out += '%';
            out += kDigits[c >> 4];
            out += kDigits[c & 15];
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

std::string CUpdateCheck::QueryFields() {
    char version[64];
    std::snprintf(version, sizeof version, "%d,%d,%d,%d", OVH_VERSION_MAJOR, OVH_VERSION_MINOR,
                  OVH_VERSION_PATCH, 0);
    char subversion[16];
    std::snprintf(subversion, sizeof subversion, "%X", kBuildNumber);
    // user and reserved carry a single blank.
    return "productname=" + UrlEscape("OvHorizel") + "&version=" + UrlEscape(version) +
           "&user=" + UrlEscape(" ") + "&subversion=" + UrlEscape(subversion) + "&reserved=" + UrlEscape(" ");
}

std::string CUpdateCheck::FormatDate(std::time_t when) {
    std::tm tm{};
    localtime_r(&when, &tm);
    char text[16];
    std::strftime(text, sizeof text, "%y,%m,%d", &tm);
    return text;
}

CUpdateCheck& GetUpdateCheck() {
    static CUpdateCheck check;
    return check;
}
