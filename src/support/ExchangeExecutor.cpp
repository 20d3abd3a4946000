#include "support/ExchangeExecutor.h"

#include <utility>
#include <vector>

namespace moirex {

TPortThreads::~TPortThreads() {
    std::vector<TJob> dropped;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ending_ = true;
        for (auto& [port, line] : lines_) {
            for (TJob& job : line->Queue) dropped.push_back(std::move(job));
            line->Queue.clear();
        }
        wake_.notify_all();
    }
    for (TJob& job : dropped)
        if (job.Dropped) job.Dropped();
    for (auto& [port, line] : lines_)
        if (line->Thread.joinable()) line->Thread.join();
}

void TPortThreads::Post(const std::string& port, std::function<void()> job, std::function<void()> dropped) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (ending_) {
        lock.unlock();
        if (dropped) dropped();
        return;
    }
    std::unique_ptr<TLine>& line = lines_[port];
    if (!line) {
        line = std::make_unique<TLine>();
        TLine* raw = line.get();
        line->Thread = std::thread([this, raw] { Serve(*raw); });
    }
    line->Queue.push_back(TJob{std::move(job), std::move(dropped)});
    wake_.notify_all();
}

void TPortThreads::DropPending(const std::string& port) {
    std::deque<TJob> dropped;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        auto it = lines_.find(port);
        if (it == lines_.end()) return;
        dropped.swap(it->second->Queue);
    }
    for (TJob& job : dropped)
        if (job.Dropped) job.Dropped();
}

void TPortThreads::Serve(TLine& line) {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        wake_.wait(lock, [&] { return ending_ || !line.Queue.empty(); });
        if (line.Queue.empty()) return;  // ending, nothing left
        TJob job = std::move(line.Queue.front());
        line.Queue.pop_front();
        lock.unlock();
        job.Run();
        lock.lock();
    }
}

}  // namespace moirex
