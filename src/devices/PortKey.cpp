#include "devices/PortKey.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include "devices/SerialPort.h"

namespace moirex {

std::string TPortKey::Text() const {
    if (CharDevice) return "c" + std::to_string(major(Rdev)) + ":" + std::to_string(minor(Rdev));
    return "i" + std::to_string(Dev) + ":" + std::to_string(Ino);
}

bool TPortKey::operator==(const TPortKey& other) const {
    if (CharDevice != other.CharDevice) return false;
    return CharDevice ? Rdev == other.Rdev : (Dev == other.Dev && Ino == other.Ino);
}

std::optional<TPortKey> PortDeviceKey(const std::string& port) {
    if (port.empty()) return std::nullopt;
    struct stat st{};
    if (::stat(TSerialPort::DevicePath(port).c_str(), &st) != 0) return std::nullopt;
    TPortKey key;
    key.CharDevice = S_ISCHR(st.st_mode);
    key.Rdev = key.CharDevice ? static_cast<uint64_t>(st.st_rdev) : 0;
    key.Dev = static_cast<uint64_t>(st.st_dev);
    key.Ino = static_cast<uint64_t>(st.st_ino);
    return key;
}

bool SamePort(const std::string& a, const std::string& b) {
    const auto ka = PortDeviceKey(a);
    const auto kb = PortDeviceKey(b);
    return ka && kb && *ka == *kb;
}

bool SameNamedPort(const std::string& a, const std::string& b) {
    if (a.empty() || b.empty()) return false;
    return a == b || SamePort(a, b);
}

}  // namespace moirex
