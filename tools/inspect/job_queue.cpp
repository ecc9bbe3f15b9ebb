#include "tools/inspect/job_queue.h"

namespace nimbra {

JobQueue::JobQueue(size_t limit) : limit_(limit ? limit : 1), thread_([this] { _Run(); }) {}

JobQueue::~JobQueue() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

void JobQueue::post(std::function<void()> job) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return jobs_.size() < limit_; });
    jobs_.push_back(std::move(job));
    changed_.notify_all();
}

void JobQueue::drain() {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return jobs_.empty() && !running_; });
}

void JobQueue::_Run() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return !jobs_.empty() || stopping_; });
        if (jobs_.empty()) return;
        std::function<void()> job = std::move(jobs_.front());
        jobs_.pop_front();
        running_ = true;
        changed_.notify_all();
        lock.unlock();
        job();
        lock.lock();
        running_ = false;
        changed_.notify_all();
    }
}

}  // namespace nimbra
