#pragma once
// Why the system refuses a serial port before any byte is exchanged, in words the operator can act
// on: a port that is not there (unplugged, a stale link), one this user may not open (with the
// remedy: the dialout group), one that is no device. An exchange on such a port fails with
// "Failed to setup Com port, port in use", which alone would read as silence.

#include <string>

namespace moirex {

// Empty when the port exists and this user may read and write it (it may still be busy or
// silent); otherwise what is wrong, naming the port. Opens nothing.
//   "/dev/ttyUSB0: Permission denied: this user may not open it. Add the user to the group
//    dialout (sudo usermod -aG dialout <user>) and log in again"
//   "/dev/ttyUSB3: No such file or directory: the port is not there (unplugged?)"
std::string PortAccessProblem(const std::string& port);

}  // namespace moirex
