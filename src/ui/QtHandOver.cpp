#include "ui/QtHandOver.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <QCoreApplication>
#include <cstdint>
#include <stdexcept>

namespace moirex::ui {

TQtHandOver::TQtHandOver() : wakeFd_(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {
    if (wakeFd_ < 0) throw std::runtime_error("Cannot create the hand-over's eventfd");
    const int fd = wakeFd_;
    queue_ = std::make_unique<TQueuedHandOver>([fd] {
        const uint64_t one = 1;
        // A full counter (never in practice) still leaves the notifier readable.
        [[maybe_unused]] ssize_t n = write(fd, &one, sizeof one);
    });
    notifier_ = std::make_unique<QSocketNotifier>(wakeFd_, QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] { Drain(); });
}

TQtHandOver::~TQtHandOver() {
    Close();
    notifier_.reset();
    queue_.reset();
    close(wakeFd_);
}

bool TQtHandOver::invokeAndWait(std::function<void()> fn) { return queue_->invokeAndWait(std::move(fn)); }

void TQtHandOver::Drain() {
    uint64_t count = 0;
    [[maybe_unused]] ssize_t n = read(wakeFd_, &count, sizeof count);
    ran_ += queue_->processPending();
}

int TQtHandOver::processPending() {
    const int before = ran_;
    Drain();
    return ran_ - before;
}

void TQtHandOver::Close() { queue_->Close(); }

}  // namespace moirex::ui
