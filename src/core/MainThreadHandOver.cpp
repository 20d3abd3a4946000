#include "core/MainThreadHandOver.h"

#include <chrono>
#include <utility>

namespace moirex {

TQueuedHandOver::TQueuedHandOver(std::function<void()> onArrival)
    : mainThread_(std::this_thread::get_id()), onArrival_(std::move(onArrival)) {}

TQueuedHandOver::~TQueuedHandOver() { Close(); }

bool TQueuedHandOver::invokeAndWait(std::function<void()> fn) {
    if (std::this_thread::get_id() == mainThread_) {
        // The main thread cannot wait for itself to drain the queue.
        fn();
        return true;
    }
    auto request = std::make_shared<TRequest>();
    request->Fn = std::move(fn);
    std::unique_lock<std::mutex> lock(mutex_);
    if (closed_) return false;
    queue_.push_back(request);
    arrived_.notify_all();
    if (onArrival_) onArrival_();
    finished_.wait(lock, [&] { return request->Done; });
    // The worker takes the failure over, so that the exception ends its life on this thread.
    std::exception_ptr error = std::move(request->Error);
    const bool ran = request->Ran;
    lock.unlock();
    if (error) std::rethrow_exception(error);
    return ran;
}

int TQueuedHandOver::processPending() {
    std::deque<std::shared_ptr<TRequest>> batch;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        batch.swap(queue_);
    }
    int ran = 0;
    for (auto& request : batch) {
        // Runs without the lock: fn may take its time (it writes the memo and the readings), and
        // a second worker must still be able to queue meanwhile.
        std::exception_ptr error;
        try {
            request->Fn();
        } catch (...) {
            error = std::current_exception();
        }
        ++ran;
        std::lock_guard<std::mutex> lock(mutex_);
        request->Error = std::move(error);
        request->Ran = true;
        request->Done = true;
        finished_.notify_all();
    }
    return ran;
}

void TQueuedHandOver::Close() {
    std::lock_guard<std::mutex> lock(mutex_);
    closed_ = true;
    for (auto& request : queue_) request->Done = true;  // Ran stays false
    queue_.clear();
    finished_.notify_all();
}

bool TQueuedHandOver::WaitForPending(int64_t timeoutMs) {
    std::unique_lock<std::mutex> lock(mutex_);
    return arrived_.wait_for(lock, std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs),
                             [&] { return !queue_.empty() || closed_; }) &&
           !queue_.empty();
}

int TQueuedHandOver::PendingCount() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<int>(queue_.size());
}

}  // namespace moirex
