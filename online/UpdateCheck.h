#pragma once
// The check for a newer program version: two GET requests to the maker's
// update server (the check address from a fixed path, then the product's name
// and version to that address), at most every few days at start-up or at
// once on demand. A found update is announced to the main window by a posted
// CUpdateCheckEvent; the window then shows CUpdateDlg.

#include <QEvent>
#include <QObject>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <ctime>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "HttpClient.h"

// The stored date of the last check and the days between checks (profile
// section "MAIN", keys "XVALUE_T" and "XVALUE_D").
class IUpdateCheckStore {
public:
    virtual std::string ReadLastCheck() = 0;
    virtual int ReadInterval() = 0;  // 7 when missing
    virtual void WriteLastCheck(const std::string& date) = 0;
    virtual void WriteInterval(int days) = 0;
    virtual ~IUpdateCheckStore() = default;
};

// "WM_OVAUTOUPDATE": posted to the main window when a check found an update.
class CUpdateCheckEvent : public QEvent {
public:
    CUpdateCheckEvent() : QEvent(EventType()) {}
    static QEvent::Type EventType();
};

class CUpdateCheck {
public:
    // What the last reply said.
    struct Result {
        int status = 0;  // 0: nothing found (yet)
        std::string message40, message80, message250;
        std::string updateurl, moreinfourl;
        int nextcheckindays = 0;
        // Why the last check got no usable answer from the server; "" when it got one.
        std::string failure;
    };

    CUpdateCheck() = default;
    // Waits up to 30 s for a running check (its time-outs end it sooner).
    ~CUpdateCheck();
    CUpdateCheck(const CUpdateCheck&) = delete;
    CUpdateCheck& operator=(const CUpdateCheck&) = delete;

    // Where the values are kept and who hears of an update; the receiver is
    // cleared before it goes.
    void SetStore(IUpdateCheckStore* store);
    void SetReceiver(QObject* receiver);
    // The update host ("host[:port]" or an http(s) origin); by default the
    // maker's, or OVHORIZEL_ONLINE_SERVER when set.
    void SetHost(std::string host);
    void SetLimits(const Http::Limits& limits);

    // Starts a check. Asynchronous: on a worker thread, when due by the
    // stored interval; returns true at once (also while one runs). Synchronous:
    // checks now (waiting for a running check first) and returns whether an
    // update was found. The wait runs `pump` every few tens of milliseconds;
    // pump returning true cancels the check.
    bool Start(bool synchronous, const std::function<bool()>& pump = {});
    bool IsRunning() const { return m_running; }
    // Cancels a running check and waits for it up to `timeout`.
    void Stop(std::chrono::milliseconds timeout);

    Result GetResult() const;

    // The reply's tags into the record; false for an empty reply (nothing changes).
    bool ParseReply(const std::string& reply);
    // The text between "<tag ...>" and "</tag>"; empty when missing or unclosed.
    static std::string GetXmlTagValue(const std::string& reply, const std::string& tag);
    // Percent-escapes the characters a query value must not carry.
    static std::string UrlEscape(const std::string& value);
    // "productname=...&version=...&user=%20&subversion=...&reserved=%20".
    static std::string QueryFields();
    // "%y,%m,%d" of the local date.
    static std::string FormatDate(std::time_t when);

private:
    void ThreadProc(bool synchronous);
    bool Exchange();
    void Fail(const std::string& why);
    void Finish();
    std::string UpdateOrigin() const;

    mutable std::mutex m_mutex;
    std::condition_variable m_done;
    Result m_result;
    IUpdateCheckStore* m_store = nullptr;
    // Posted to under m_mutex; its owner clears it before it goes.
    QObject* m_receiver = nullptr;
    std::string m_host;
    Http::Limits m_limits{30000, 60, 60000, 64 * 1024, true};
    std::atomic<bool> m_running{false};
    std::atomic<bool> m_cancel{false};
    std::thread m_thread;
};

// The program's one update check.
CUpdateCheck& GetUpdateCheck();
