#include "devices/PortAccess.h"

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "devices/SerialPort.h"

namespace moirex {

namespace {

std::string UserName() {
    if (const passwd* pw = ::getpwuid(::getuid()); pw != nullptr && pw->pw_name != nullptr) return pw->pw_name;
    return "$USER";
}

// The group that owns the device, usually dialout.
std::string GroupOf(const struct stat& st) {
    if (const group* g = ::getgrgid(st.st_gid); g != nullptr && g->gr_name != nullptr) return g->gr_name;
    return "dialout";
}

}  // namespace

std::string PortAccessProblem(const std::string& port) {
    const std::string path = TSerialPort::DevicePath(port);
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        const int err = errno;
        return path + ": " + std::strerror(err) +
               (err == ENOENT ? ": the port is not there (unplugged, or a link to a device that is gone?)" : "");
    }
    if (!S_ISCHR(st.st_mode)) return path + ": not a serial device";
    if (::access(path.c_str(), R_OK | W_OK) != 0) {
        const int err = errno;
        std::string text = path + ": " + std::strerror(err);
        if (err == EACCES) {
            const std::string group = GroupOf(st) == "root" ? std::string("dialout") : GroupOf(st);
            text += ": this user may not open it. Add the user to the group " + group + " (sudo usermod -aG " + group +
                    " " + UserName() + ") and log in again";
        }
        return text;
    }
    return {};
}

}  // namespace moirex
