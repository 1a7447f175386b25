#include "PrintServiceUpload.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>

#include "AspectData.h"
#include "FileReading.h"
#include "OnlineText.h"

std::string g_strNetPrintLogin;
std::string g_strNetPrintPassword;

namespace NetPrint {

namespace {

constexpr std::size_t kChunk = 10240;
// A pending panorama larger than this is not sent (nor read into memory).
constexpr std::uint64_t kMaxUploadFile = 1ull << 30;

const std::vector<std::string> kLoginKeys = {"sessionid=", "uploadurl=", "token="};
const std::vector<std::string> kFileKeys = {"error=", "clickurl=", "pollurl="};

// Overwrites a string that held a password before it is freed.
void Wipe(std::string& s) {
    volatile char* p = s.data();
    for (std::size_t i = 0; i < s.size(); ++i)
        p[i] = 0;
    s.clear();
}

std::string FileNameOf(const std::string& path) {
    return std::filesystem::path(path).filename().string();
}

}  // namespace

std::string ServiceAddress(const std::string& configured) {
    const char* server = std::getenv("OVHORIZEL_ONLINE_SERVER");
    if (!server || !*server)
        return configured;
    Http::Url base, url;
    if (!Http::ParseUrl(server, base))
        return configured;
    if (!Http::ParseUrl(configured, url))
        url.path = "/";
    return base.Origin() + url.path;
}

std::string ReplyValue(const std::string& reply, const std::string& key,
                       const std::vector<std::string>& keys) {
    const std::size_t at = reply.find(key);
    if (at == std::string::npos)
        return {};
    const std::size_t start = at + key.size();
    std::size_t end = reply.size();
    for (const std::string& other : keys) {
        const std::size_t o = reply.find(other, start);
        if (o != std::string::npos)
            end = std::min(end, o);
    }
    std::string value = reply.substr(start, end - start);
    while (!value.empty() && std::strchr(" \t\r\n", value.back()))
        value.pop_back();
    if (!value.empty() && value.back() == '&')
        value.pop_back();
    while (!value.empty() && std::strchr(" \t\r\n", value.back()))
        value.pop_back();
    return value;
}

bool ReplyError(const std::string& reply, int& error) {
    const std::size_t at = reply.find("error=");
    if (at == std::string::npos)
        return false;
    error = std::atoi(reply.substr(at + 6, 2).c_str());
    return true;
}

bool MultipartBody::Build(const std::string& path, const std::string& fieldName, const std::string& fileName,
                          const std::vector<std::pair<std::string, std::string>>& fields) {
    m_head.clear();
    m_file.clear();
    m_tail.clear();
    if (Platform::ReadWholeFile(path, kMaxUploadFile, m_file) != 0)
        return false;

    std::random_device seed;
    std::mt19937 random(seed());
    char boundary[32];
    do {
        std::snprintf(boundary, sizeof boundary, "--------%.8lx", static_cast<unsigned long>(random()));
    } while (m_file.find(boundary) != std::string::npos);
    m_boundary = boundary;

    for (const auto& [name, value] : fields)
        m_head += "--" + m_boundary + "\r\nContent-Disposition: form-data; name=\"" + name + "\"\r\n\r\n" +
                  value + "\r\n";
    m_head += "--" + m_boundary + "\r\nContent-Disposition: form-data; name=\"" + fieldName +
              "\"; filename=\"" + fileName +
              "\"\r\nContent-Type: image/pjpeg\r\nContent-Transfer-Encoding: binary\r\n\r\n";
    m_tail = "\r\n--" + m_boundary + "--\r\n";
    return true;
}

std::size_t MultipartBody::Read(std::uint64_t offset, char* buffer, std::size_t max) const {
    std::size_t done = 0;
    for (const std::string* part : {&m_head, &m_file, &m_tail}) {
        if (done == max)
            break;
        if (offset >= part->size()) {
            offset -= part->size();
            continue;
        }
        const std::size_t n = std::min<std::uint64_t>(part->size() - offset, max - done);
        std::memcpy(buffer + done, part->data() + offset, n);
        done += n;
        offset = 0;
    }
    return done;
}

bool PostForm(const std::string& url, const std::string& form, std::string* reply, IUploadHost& host,
              const UploadLimits& limits, bool* cancelled) {
    Http::Request request;
    request.method = Http::Request::Method::Post;
    request.url = url;
    request.headers = {"Content-Type: application/x-www-form-urlencoded"};
    request.body = form;
    Http::Limits http = limits.http;
    http.followRedirects = false;
    Http::Reply answer = Http::Perform(request, http, [&host] { return host.Pump(); });
    Wipe(request.body);
    if (cancelled)
        *cancelled = answer.cancelled;
    // Success means a status below 204.
    if (!answer.completed || answer.status < 200 || answer.status >= 204)
        return false;
    if (reply)
        *reply = std::move(answer.body);
    return true;
}

bool UploadToPrintService(const std::vector<std::string>& files, IUploadHost& host,
                          const UploadLimits& limits) {
    if (!host.AskLogin(g_strNetPrintLogin, g_strNetPrintPassword))
        return false;
    std::string reply;
    for (;;) {
        std::string form = "username=" + Http::FormEncode(g_strNetPrintLogin) +
                           "&password=" + Http::FormEncode(g_strNetPrintPassword);
        bool cancelled = false;
        host.BeginProgress();
        const bool posted =
            PostForm(ServiceAddress(g_strNetPrintLoginUrl), form, &reply, host, limits, &cancelled);
        host.EndProgress();
        Wipe(form);
        if (cancelled)
            return false;
        if (!posted) {
            host.ShowMessage(OnlineText::Load(OnlineText::kNoConnection), IUploadHost::MessageKind::Error);
            return false;
        }
        int error = 0;
        if (!ReplyError(reply, error))
            return false;
        if (error == -2) {
            host.ShowMessage(OnlineText::Load(OnlineText::kLoginIncorrect), IUploadHost::MessageKind::Warning);
            if (!host.AskLogin(g_strNetPrintLogin, g_strNetPrintPassword))
                return false;
            continue;
        }
        if (error != 0)
            return false;
        break;
    }
    const std::string sessionId = ReplyValue(reply, "sessionid=", kLoginKeys);
    const std::string uploadUrl = ReplyValue(reply, "uploadurl=", kLoginKeys);
    const std::string token = ReplyValue(reply, "token=", kLoginKeys);
    Http::Url upload;
    if (sessionId.empty() || uploadUrl.empty() || !Http::ParseUrl(uploadUrl, upload))
        return false;
    const std::vector<std::pair<std::string, std::string>> fields = {{"sessionid", sessionId},
                                                                     {"caption", "ORVEX Horizel"}};

    host.BeginProgress();
    const int n = static_cast<int>(files.size());
    int accepted = 0;
    std::string orderUrl;
    for (int i = 0; i < n; ++i) {
        const std::string& path = files[static_cast<std::size_t>(i)];
        host.SetProgressText(OnlineText::Format(OnlineText::kUploadingOf, {i + 1, n}));
        MultipartBody body;
        if (!body.Build(path, "ImageData", FileNameOf(path), fields))
            break;
        const std::uint64_t total = body.Size();
        std::uint64_t sent = 0;
        Http::Request request;
        request.method = Http::Request::Method::Post;
        request.url = upload.ToString();
        request.headers = {"Content-Type: multipart/form-data; boundary=\"" + body.Boundary() + "\""};
        request.bodySize = total;
        request.bodySource = [&](char* buffer, std::size_t max) -> std::size_t {
            const std::size_t count = body.Read(sent, buffer, std::min(max, kChunk));
            if (count == 0)
                return 0;
            sent += count;
            if (host.SetProgress(100, static_cast<int>(sent * 100 / total)))
                return Http::kAbortBody;
            return count;
        };
        Http::Limits http = limits.http;
        http.followRedirects = false;
        const Http::Reply answer = Http::Perform(request, http, [&host] { return host.Pump(); });
        int error = -1;
        if (!answer.Ok() || !ReplyError(answer.body, error) || error != 0 ||
            answer.body.find("clickurl=") == std::string::npos)
            break;
        // Accepted: it must not be sent again at the next start.
        std::error_code ec;
        std::filesystem::remove(path, ec);
        ++accepted;
        orderUrl = ReplyValue(answer.body, "clickurl=", {}) + "&token=" + token;
    }
    host.EndProgress();
    if (n == 0 || accepted < n)
        return false;
    // The address comes from the server: only a web page is opened, and the
    // message promises the page only when there is one to open.
    // It must name its scheme: a bare word would be taken for a host name.
    Http::Url order;
    const bool opens = orderUrl.find("://") != std::string::npos && Http::ParseUrl(orderUrl, order);
    host.ShowMessage(OnlineText::Format(opens ? OnlineText::kUploaded : OnlineText::kUploadedNoOrderPage, {n}),
                     IUploadHost::MessageKind::Information);
    if (opens)
        host.OpenUrl(orderUrl);
    return true;
}

void UploadPendingPanoramas(IUploadHost& host, const UploadLimits& limits) {
    std::vector<std::string> files;
    ListPendingUploads(files);
    if (files.empty())
        return;
    switch (host.ChooseFiles(files)) {
        case kChoiceUpload:
            UploadToPrintService(files, host, limits);
            break;
        case kChoiceDeleteAll:
            for (auto it = files.rbegin(); it != files.rend(); ++it) {
                std::error_code ec;
                std::filesystem::remove(*it, ec);
            }
            break;
        default:
            break;
    }
}

}  // namespace NetPrint
