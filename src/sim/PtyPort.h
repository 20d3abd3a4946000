#pragma once
// The device end of one emulated serial line: a pseudo-terminal whose slave side the clients
// open, published under a symbolic link. Like a real port it survives clients that open and
// close it for every exchange: the emulator holds a slave descriptor of its own (so the master
// never hangs up) and watches the slave's opens and closes, so that when the last client closes
// it can do what a real port's last close does — drop the exclusive-use flag and the bytes that
// nobody read — and answers sent while no client listens are lost as on a real line.

#include <cstddef>
#include <cstdint>
#include <string>
#include <sys/types.h>

namespace moirex::sim {

class PtyPort {
public:
    explicit PtyPort(std::string linkPath);
    ~PtyPort();
    PtyPort(const PtyPort&) = delete;
    PtyPort& operator=(const PtyPort&) = delete;

    // Makes a new pseudo-terminal and the link to it; throws std::runtime_error.
    void Open();
    // Removes the link (when it still points here) and closes the pseudo-terminal; clients that
    // hold it open see the line hang up.
    void Close();
    bool IsOpen() const { return master_ >= 0; }

    int MasterFd() const { return master_; }
    int WatchFd() const { return watch_; }
    const std::string& Device() const { return device_; }
    const std::string& LinkPath() const { return link_; }

    // Reads the pending open and close notices of the slave side.
    void ServiceWatch();
    bool ClientPresent() const { return openers_ > 0; }

    // Hands bytes to the client at once, without blocking: the number taken (0 when the line's
    // queue is full), or -1 when no client holds the port, in which case what nobody read is gone
    // as on a real line, and the caller drops the rest of its answer.
    ssize_t WriteNow(const uint8_t* data, size_t size);

private:
    std::string link_;
    std::string device_;
    int master_ = -1;
    int slave_ = -1;
    int watch_ = -1;
    int openers_ = 0;
};

}  // namespace moirex::sim
