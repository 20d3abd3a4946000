#pragma once
// One request and answer exchange with a device on a serial port.
//
// While the process owns the mixer, each of its ports has an owner (TSerialLine, SerialLine.h)
// that holds it open and exclusive: an exchange on such a port is run by the owner's thread,
// after the exchanges other threads queued before it, and the calling thread waits for it.
// Without an owner (before the mixer is claimed, the service tools, the tests of the drivers)
// an exchange opens the port by name, exclusively, exchanges and closes it again. Either way a
// second opener of a port in use (in this process or another) fails with "Failed to setup Com
// port, port in use", and the reason (with the holder of the mixer's claim, when there is one)
// goes to SerialPortLogger().
//
// Each exchange applies the line settings, time-outs and queue sizes, writes one message and,
// when asked, takes the answer as soon as it is whole: a Modbus answer by its length (the
// caller's TAnswerLength), a text answer at its line feed; otherwise 20 ms after its last byte.
// There are no sleeps: poll() waits for the bytes with the exchange's deadlines.
//
// No exchange raises an error: the outcome is a TSerialResponse whose Status is empty on success.
//
// The line's timing is kept per device for the whole process (both threads), and a line left
// unsettled is noted in the user's runtime folder for the next process that uses it: before every
// request the line has been silent for at least t3.5 (3.5 character times at the port's
// settings) since the last byte received; after an exchange that ended without its answer, the
// next exchange on that port first waits until the line has been quiet for QuietLineMS and throws
// away whatever came meanwhile, so that a late answer is never taken for the answer to the next
// request. The wait for an answer counts from the end of the request on the wire.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>

#include "state/InstrumentRecords.h"

namespace moirex {

class TSerialLine;

// Status texts of the exchanges.
inline constexpr const char* kStatusPortInUse = "Failed to setup Com port, port in use";
inline constexpr const char* kStatusTimeoutsRefused = "Failed to setup Com port timeouts";
inline constexpr const char* kStatusBuffersRefused = "Failed to setup Com port buffer size";
inline constexpr const char* kStatusWriteFailed = "Failed to write to Com port";
inline constexpr const char* kStatusNoReplyWanted = "Exit read/write without waiting for reply";
inline constexpr const char* kStatusTextTimeout = "Timeout while waiting for response, exiting";
inline constexpr const char* kStatusByteTimeout = "Timeout while waiting for response";
inline constexpr const char* kStatusReadFailed = "Failed to read from Com port";
inline constexpr const char* kStatusUnknownProblem = "Unknown problem reading serial port";
// The line kept carrying bytes after an exchange that went wrong: nothing was sent.
inline constexpr const char* kStatusLineNotQuiet = "Line does not fall quiet, nothing sent";

// How many bytes an answer will hold, judged from the bytes received so far; 0 while that is
// not yet known. Lets the byte exchange end its read as soon as the frame is complete.
using TAnswerLength = std::function<std::size_t(std::span<const uint8_t> received)>;

class TSerialPort {
public:
    // The owner is always empty; it is kept for the shape of the call only.
    explicit TSerialPort(void* owner = nullptr);
    virtual ~TSerialPort() = default;

    TSerialPort(const TSerialPort&) = delete;
    TSerialPort& operator=(const TSerialPort&) = delete;

    // Properties (defaults in brackets).
    bool Debug() const { return fDebug; }                        // [false] step trace of SendData
    void SetDebug(bool value) { fDebug = value; }
    const std::string& DebugMSG() const { return fDebugMSG; }    // [""] trace of the last SendData
    void SetDebugMSG(std::string value) { fDebugMSG = std::move(value); }
    // [""] device path such as "/dev/ttyUSB0" or "/dev/serial/by-id/..."; a bare name such as
    // "ttyUSB0" means "/dev/ttyUSB0".
    const std::string& Port() const { return fPort; }
    void SetPort(std::string value) { fPort = std::move(value); }
    // [333] the poll period of the design; the exchanges no longer sleep, so it has no effect.
    uint32_t WindowsReadLoopTimeoutMS() const { return fWindowsReadLoopTimeoutMS; }
    void SetWindowsReadLoopTimeoutMS(uint32_t value) { fWindowsReadLoopTimeoutMS = value; }
    uint32_t ReadoutTimeoutMS() const { return fReadoutTimeoutMS; }  // [1000] wait for the first byte
    void SetReadoutTimeoutMS(uint32_t value) { fReadoutTimeoutMS = value; }
    int32_t BaudRate() const { return fBaudRate; }               // [9600]
    void SetBaudRate(int32_t value) { fBaudRate = value; }
    int32_t StopBits() const { return fStopBits; }               // [0] 0 one, 1 one and a half, 2 two
    void SetStopBits(int32_t value) { fStopBits = value; }
    int32_t Parity() const { return fParity; }                   // [0] 0 none, 1 odd, 2 even, 3 mark, 4 space
    void SetParity(int32_t value) { fParity = value; }
    // [1000] how long the line must stay silent after an exchange that ended without its answer
    // before the next request goes out: longer than the device's slowest answer.
    uint32_t QuietLineMS() const { return fQuietLineMS; }
    void SetQuietLineMS(uint32_t value) { fQuietLineMS = value; }

    // Time on the wire at the port's settings: one character (start bit, 8 data bits, parity,
    // stop bits), `bytes` characters, and t3.5, the silence that ends a frame.
    double CharacterTimeMs() const;
    double WireTimeMs(size_t bytes) const { return CharacterTimeMs() * static_cast<double>(bytes); }
    double FrameGapMs() const { return 3.5 * CharacterTimeMs(); }
    // How long after a whole Modbus answer further bytes still count as part of its frame (an
    // over-long answer): t1.5, the longest gap allowed inside a frame.
    double FrameContinuationMs() const;

    // Marks the port's line as unsettled: the next exchange on it waits for the quiet line
    // first. For a driver that found the answer it received to be no answer to its request.
    void LineNeedsQuiet() const;

    // Text exchange (pump, service tools). The message is sent as it is: callers end it with a
    // carriage return. With WaitForResponse the answer (up to 80 bytes, trimmed of leading and
    // trailing characters at or below the blank) is in Response; without, Status is
    // "Exit read/write without waiting for reply". Writes the "SerialPort" log lines.
    TSerialResponse Send2(const std::string& message, bool WaitForResponse);

    // Byte exchange (Modbus). The answer (up to 256 bytes, untrimmed) is in rArray, Response and
    // ResponseLength; ValueOfFirstWord/ValueOfSecondWord are the 4th+5th and 6th+7th bytes
    // (0 when the answer is shorter). Without WaitForResponse Status is empty once written.
    // answerLength, when given, lets the read end as soon as the answer is complete (and
    // FrameContinuationMs() quiet) instead of 20 ms after its last byte; bytes that follow within
    // the frame are kept, so that an over-long answer shows as one. An answer that is not
    // complete by then leaves the line unsettled.
    TSerialResponse SendData(const uint8_t* Data, uint32_t dataSize, bool WaitForResponse,
                             const TAnswerLength& answerLength = {});

    // Configuration of an open port (a file descriptor). False for an invalid descriptor or a
    // refusal by the serial driver; true otherwise.
    // Virtual so that a test can stand in for a driver that refuses.
    virtual bool SetDCBState(int ComDevice);  // raw 8 bit, BaudRate, StopBits, Parity, DTR+RTS up, no flow control
    virtual bool SetTimeOuts(int ComDevice);  // read: 20 ms after the last byte, 200 ms + 10 ms a byte in all
    virtual bool SetBuffers(int ComDevice);   // queues of 4096 bytes, emptied of what arrived before the open

    // Device path for a port name: a name without "/" means "/dev/" + name.
    static std::string DevicePath(const std::string& name);

    // Opens a serial device for reading and writing without sharing it: flock (LOCK_EX|LOCK_NB)
    // and TIOCEXCL, non-blocking, close-on-exec. -1 when the device does not exist, is no serial
    // device, cannot be opened, or another opener holds it (`busy`); `why` then says so (with the
    // claim's holder when another master holds the port) and went to SerialPortLogger().
    static int OpenExclusive(const std::string& path, std::string& why, bool& busy);
    // Takes the exclusive-use marks off and closes.
    static void CloseExclusive(int fd);

private:
    bool fDebug = false;
    std::string fDebugMSG;
    std::string fPort;
    uint32_t fWindowsReadLoopTimeoutMS = 333;
    uint32_t fReadoutTimeoutMS = 1000;
    int32_t fBaudRate = 9600;
    int32_t fStopBits = 0;
    int32_t fParity = 0;
    uint32_t fQuietLineMS = 1000;

    void Trace(int point);
    // Takes the port for one exchange and makes it ready for the request: the port's settings
    // and time-outs, a quiet line, emptied queues. Empty when ready, else the status the exchange
    // ends with. `traced`: the debug trace's points on the way are written.
    struct TExchangePort;
    std::string PrepareExchange(TExchangePort& port, bool traced);
    // Waits for the line to be ready for a request on the open port `fd`: the quiet line after
    // trouble, then t3.5 since the last byte. False when the line never fell quiet, or when the
    // device went away (`vanished`).
    bool SettleLine(int fd, const std::string& key, bool& vanished);
    // The owner of this port when it runs on another thread than this one (the exchange is
    // handed to it), and the owner whose job runs on this thread (the exchange uses its port).
    std::shared_ptr<TSerialLine> OtherThreadsLine() const;
    TSerialLine* ThisThreadsLine() const;
};

}  // namespace moirex
