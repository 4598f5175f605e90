// A second thread that does one job at a time for its caller: the log's
// last full buffer is written while the search goes on.
#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

struct Worker {
    std::function<void()> job;
    std::mutex mutex;
    std::condition_variable changed;
    bool posted = false;  // a job waits or runs
    bool quit = false;
    std::thread thread;

    Worker() = default;
    Worker(const Worker&) = delete;
    Worker& operator=(const Worker&) = delete;
    // A job posted is finished first.
    ~Worker() {
        {
            std::lock_guard<std::mutex> lock(mutex);
            quit = true;
        }
        changed.notify_all();
        if (thread.joinable()) thread.join();
    }
};

// Starts the thread, which runs `job` once for every Post. Throws
// std::system_error when no thread can start.
inline void StartWorker(Worker& w, std::function<void()> job) {
    w.job = std::move(job);
    w.thread = std::thread([&w] {
        std::unique_lock<std::mutex> lock(w.mutex);
        for (;;) {
            w.changed.wait(lock, [&] { return w.posted || w.quit; });
            if (!w.posted) return;
            lock.unlock();
            w.job();
            lock.lock();
            w.posted = false;
            w.changed.notify_all();
        }
    });
}

inline void Post(Worker& w) {
    {
        std::lock_guard<std::mutex> lock(w.mutex);
        w.posted = true;
    }
    w.changed.notify_all();
}

// Waits until the job posted last is done; what it wrote is then the
// caller's to read.
inline void Wait(Worker& w) {
    std::unique_lock<std::mutex> lock(w.mutex);
    w.changed.wait(lock, [&] { return !w.posted; });
}
