#pragma once
// A small HTTP/1.1 server for the tests, on 127.0.0.1 only, inside the test
// process. It serves one connection after another on its own thread, records
// every request, and answers from handlers chosen by path, including the bad
// answers a real server may give: slow, dropped, huge or never.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace Loopback {

struct Request {
    std::string method;
    std::string target;                          // path with the query
    std::string path;                            // without the query
    std::map<std::string, std::string> headers;  // names in lower case
    std::string body;
    bool bodyComplete = false;

    std::string Header(const std::string& name) const {
        const auto it = headers.find(name);
        return it == headers.end() ? std::string() : it->second;
    }
};

struct Response {
    int status = 200;
    std::string body;
    std::vector<std::string> headers;
    int delayMs = 0;                // wait before answering
    bool dropWithoutReply = false;  // read the request, then close
    // Close after reading this much of the body (npos: read it all).
    std::size_t dropAfterBodyBytes = std::string::npos;
    // Stream this many bytes without a length instead of `body`.
    std::size_t streamBytes = 0;
    bool hang = false;  // never answer (until the server stops)

    static Response Text(std::string body, int status = 200) {
        Response r;
        r.body = std::move(body);
        r.status = status;
        return r;
    }
};

class Server {
public:
    using Handler = std::function<Response(const Request& head)>;

    Server() {
        listen_ = ::socket(AF_INET, SOCK_STREAM, 0);
        const int one = 1;
        ::setsockopt(listen_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = 0;
        ::bind(listen_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::listen(listen_, 16);
        socklen_t length = sizeof address;
        ::getsockname(listen_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this] { Serve(); });
    }
    ~Server() { Stop(); }
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    int Port() const { return port_; }
    std::string Origin() const { return "http://127.0.0.1:" + std::to_string(port_); }

    void On(const std::string& path, Handler handler) {
        std::lock_guard lock(mutex_);
        handlers_[path] = std::move(handler);
    }
    void On(const std::string& path, Response response) {
        On(path, [response](const Request&) { return response; });
    }

    std::vector<Request> Requests() const {
        std::lock_guard lock(mutex_);
        return requests_;
    }
    int Count(const std::string& path) const {
        std::lock_guard lock(mutex_);
        return static_cast<int>(std::count_if(requests_.begin(), requests_.end(),
                                              [&](const Request& r) { return r.path == path; }));
    }

    void Stop() {
        if (stop_.exchange(true))
            return;
        if (thread_.joinable())
            thread_.join();
        ::close(listen_);
    }

private:
    // Waits until the socket is readable or the server stops; false on stop.
    bool WaitReadable(int fd) {
        while (!stop_) {
            pollfd p{fd, POLLIN, 0};
            const int n = ::poll(&p, 1, 20);
            if (n > 0)
                return true;
        }
        return false;
    }

    bool ReadSome(int fd, std::string& into) {
        if (!WaitReadable(fd))
            return false;
        char buffer[16384];
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0)
            return false;
        into.append(buffer, static_cast<std::size_t>(n));
        return true;
    }

    void SendAll(int fd, const std::string& bytes) {
        std::size_t done = 0;
        while (done < bytes.size() && !stop_) {
            const ssize_t n = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
            if (n <= 0)
                return;
            done += static_cast<std::size_t>(n);
        }
    }

    void Serve() {
        while (WaitReadable(listen_)) {
            const int fd = ::accept(listen_, nullptr, nullptr);
            if (fd < 0)
                continue;
            Handle(fd);
            ::close(fd);
        }
    }

    void Handle(int fd) {
        std::string data;
        std::size_t headEnd;
        while ((headEnd = data.find("\r\n\r\n")) == std::string::npos)
            if (!ReadSome(fd, data))
                return;
        Request request;
        const std::string head = data.substr(0, headEnd);
        std::size_t lineEnd = head.find("\r\n");
        const std::string first = head.substr(0, lineEnd);
        const std::size_t s1 = first.find(' '), s2 = first.rfind(' ');
        request.method = first.substr(0, s1);
        request.target = first.substr(s1 + 1, s2 - s1 - 1);
        request.path = request.target.substr(0, request.target.find('?'));
        while (lineEnd != std::string::npos) {
            const std::size_t next = head.find("\r\n", lineEnd + 2);
            const std::string line = head.substr(lineEnd + 2, next - lineEnd - 2);
            lineEnd = next;
            const std::size_t colon = line.find(':');
            if (colon == std::string::npos)
                continue;
            std::string name = line.substr(0, colon);
            std::transform(name.begin(), name.end(), name.begin(),
                           [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
            std::string value = line.substr(colon + 1);
            value.erase(0, value.find_first_not_of(' '));
            request.headers[name] = value;
        }
        Handler handler;
        {
            std::lock_guard lock(mutex_);
            const auto it = handlers_.find(request.path);
            if (it != handlers_.end())
                handler = it->second;
        }
        const Response response = handler ? handler(request) : Response::Text("not found", 404);

        const std::size_t length =
            request.Header("content-length").empty() ? 0 : std::stoull(request.Header("content-length"));
        const std::size_t want = std::min(length, response.dropAfterBodyBytes);
        request.body = data.substr(headEnd + 4);
        while (request.body.size() < want && ReadSome(fd, request.body)) {
        }
        request.body.resize(std::min(request.body.size(), want));
        request.bodyComplete = request.body.size() == length;
        {
            std::lock_guard lock(mutex_);
            requests_.push_back(request);
        }
        if (response.dropWithoutReply || response.dropAfterBodyBytes != std::string::npos)
            return;
        if (response.hang) {
            // Silent until the client gives up (or the server stops).
            std::string sink;
            while (ReadSome(fd, sink))
                sink.clear();
            return;
        }
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(response.delayMs);
        while (!stop_ && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));

        std::string out = "HTTP/1.1 " + std::to_string(response.status) + " X\r\nConnection: close\r\n";
        for (const std::string& h : response.headers)
            out += h + "\r\n";
        if (response.streamBytes) {
            SendAll(fd, out + "\r\n");
            const std::string block(64 * 1024, 'x');
            for (std::size_t sent = 0; sent < response.streamBytes && !stop_; sent += block.size())
                SendAll(fd, block.substr(0, std::min(block.size(), response.streamBytes - sent)));
            return;
        }
        out += "Content-Length: " + std::to_string(response.body.size()) + "\r\n\r\n" + response.body;
        SendAll(fd, out);
    }

    int listen_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    mutable std::mutex mutex_;
    std::map<std::string, Handler> handlers_;
    std::vector<Request> requests_;
    std::thread thread_;
};

}  // namespace Loopback
