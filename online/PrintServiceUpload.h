#pragma once
// The print-service upload: the form login that opens a session, one
// multipart upload per pending panorama, each file deleted as soon as the
// service accepted it, and the order page opened at the end. The windows it
// needs (file choice, login, messages, progress, the browser) come through
// IUploadHost, so the flow runs the same under tests.

#include <cstdint>
#include <string>
#include <vector>

#include "HttpClient.h"

// The login and password typed this run; kept in memory only, never stored.
extern std::string g_strNetPrintLogin;
extern std::string g_strNetPrintPassword;

namespace NetPrint {

// Results of the files dialog.
inline constexpr int kChoiceUpload = 1;        // IDOK
inline constexpr int kChoiceLater = 2;         // IDCANCEL
inline constexpr int kChoiceDeleteAll = 1087;  // "Delete Files"

class IUploadHost {
public:
    // The files dialog over the list (which it may shorten); one of the
    // choices above.
    virtual int ChooseFiles(std::vector<std::string>& files) = 0;
    // The login dialog with the values shown; false on Cancel.
    virtual bool AskLogin(std::string& login, std::string& password) = 0;
    enum class MessageKind { Information, Warning, Error };
    virtual void ShowMessage(const std::string& text, MessageKind kind) = 0;
    // Opens an http or https page in the browser.
    virtual void OpenUrl(const std::string& url) = 0;
    // The progress window, with Cancel, over the network exchanges.
    virtual void BeginProgress() = 0;
    virtual void SetProgressText(const std::string& text) = 0;
    // Moves the bar; true when the user asked to cancel.
    virtual bool SetProgress(int total, int position) = 0;
    // Keeps the windows alive while waiting; true when the user asked to cancel.
    virtual bool Pump() = 0;
    virtual void EndProgress() = 0;
    virtual ~IUploadHost() = default;
};

// Bounds of the service's exchanges; tests shorten them.
struct UploadLimits {
    Http::Limits http{};
};

// The server the program talks to: the environment variable
// OVHORIZEL_ONLINE_SERVER ("http://host:port") replaces the scheme, host and
// port of the compiled-in or configured addresses, keeping their paths.
std::string ServiceAddress(const std::string& configured);

// The value behind `key` in a service reply: up to the nearest start of
// another of the keys behind it, or the end; blanks, line ends and one "&"
// at its end are dropped. Empty when the key is missing.
std::string ReplyValue(const std::string& reply, const std::string& key,
                       const std::vector<std::string>& keys);
// atoi of the two characters behind "error="; false when the reply has none.
bool ReplyError(const std::string& reply, int& error);

// The multipart form of one file, streamed: the text fields, the file part
// and the closing line. The boundary is "--------" and eight lower-case hex
// digits, chosen so that it does not occur in the file.
class MultipartBody {
public:
    // False when the file cannot be read (it then stays pending).
    bool Build(const std::string& path, const std::string& fieldName, const std::string& fileName,
               const std::vector<std::pair<std::string, std::string>>& fields);
    const std::string& Boundary() const { return m_boundary; }
    std::uint64_t Size() const { return m_head.size() + m_file.size() + m_tail.size(); }
    // Copies the bytes from `offset` on into `buffer` (at most max); the count.
    std::size_t Read(std::uint64_t offset, char* buffer, std::size_t max) const;
    std::string Bytes() const { return m_head + m_file + m_tail; }

private:
    std::string m_boundary;
    std::string m_head;
    std::string m_file;
    std::string m_tail;
};

// POSTs a urlencoded form; true on a 2xx reply within the limits (a
// redirect is a failure: the form is never sent elsewhere). `cancelled` tells
// the user's stop apart from a failure.
bool PostForm(const std::string& url, const std::string& form, std::string* reply, IUploadHost& host,
              const UploadLimits& limits, bool* cancelled = nullptr);

// Logs in and uploads the files in order; true when every file was accepted.
bool UploadToPrintService(const std::vector<std::string>& files, IUploadHost& host,
                          const UploadLimits& limits = {});

// Start-up: offers the pending panoramas and uploads or deletes the chosen ones.
void UploadPendingPanoramas(IUploadHost& host, const UploadLimits& limits = {});

}  // namespace NetPrint
