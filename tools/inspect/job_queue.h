// Jobs run in the order posted on one thread of their own, so that a
// producer (the device, running a recording) and the work on its output
// (encoding and writing files) share two cores. At most `limit` jobs wait;
// post() waits for room, so memory stays bounded however long the run.
#pragma once
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace nimbra {

class JobQueue {
public:
    explicit JobQueue(size_t limit);
    ~JobQueue();   // runs the jobs still waiting, then ends the thread
    JobQueue(const JobQueue &) = delete;
    JobQueue &operator=(const JobQueue &) = delete;

    void post(std::function<void()> job);
    // Waits until every job posted so far has run.
    void drain();

private:
    void _Run();

    const size_t limit_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::function<void()>> jobs_;
    bool running_ = false;   // a job is running outside the lock
    bool stopping_ = false;
    std::thread thread_;
};

}  // namespace nimbra
