#pragma once
// The identity of a serial device, whatever name leads to it. A by-id link and /dev/ttyUSB0, or
// the emulator's link and its /dev/pts/N, are one port: compare their keys, never their texts.
// This is the one place that says what "the same port" means (the claim of a mixer's ports, the
// line owners, the check that two instruments are on different ports).

#include <cstdint>
#include <optional>
#include <string>

namespace moirex {

struct TPortKey {
    bool CharDevice = false;  // a character device: Rdev names it; otherwise Dev and Ino do
    uint64_t Rdev = 0;
    uint64_t Dev = 0;
    uint64_t Ino = 0;

    // "c136:5" for a character device (major:minor), "i2049:123456" (device:inode) otherwise:
    // usable in file names and log lines.
    std::string Text() const;
    bool operator==(const TPortKey& other) const;
};

// The key of the device a port name leads to, links followed; a bare name such as "ttyUSB0"
// means "/dev/ttyUSB0". nullopt when the name leads nowhere (no such device, a dangling link).
std::optional<TPortKey> PortDeviceKey(const std::string& port);

// True when both names lead to one existing device. A name that leads nowhere is the same port
// as no other name.
bool SamePort(const std::string& a, const std::string& b);

// True when two port names, as a user or a file gave them, name one port: the same name (also one
// that leads to no device now, such as an adapter unplugged since), or two names of one device.
// An empty name names no port.
bool SameNamedPort(const std::string& a, const std::string& b);

}  // namespace moirex
