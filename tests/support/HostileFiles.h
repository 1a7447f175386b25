#pragma once
// Paths that name no ordinary file, for the tests that every reader refuses
// them: a FIFO without a writer (an ordinary open waits on it for ever) and a
// device that never ends.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <future>
#include <string>
#include <thread>
#include <vector>

namespace TestData {

inline const std::string kEndlessDevice = "/dev/zero";

inline std::string MakeFifo(const std::string& path) {
    ::mkfifo(path.c_str(), 0600);
    return path;
}

// Runs the read on a thread of its own. When it has not come back within a
// few seconds it is stuck on the FIFO: a writer is opened and closed so the
// reader sees the end of the data and the test can go on, and false is given.
inline bool ReturnsWithoutWaiting(const std::string& fifo, const std::function<void()>& read) {
    std::packaged_task<void()> task(read);
    std::future<void> done = task.get_future();
    std::thread reader(std::move(task));
    bool inTime = done.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
    while (!inTime && done.wait_for(std::chrono::milliseconds(50)) != std::future_status::ready) {
        const int fd = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd >= 0)
            ::close(fd);
    }
    reader.join();
    done.get();
    return inTime;
}

}  // namespace TestData
