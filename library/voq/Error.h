// The failure types of the object model.  Every failure is thrown as an
// Error carrying its message; its kinds let callers inside the library
// branch on what failed without reading the text, and one handler for Error
// catches them all.
#ifndef VOQ_ERROR_H
#define VOQ_ERROR_H

#include <stdexcept>
#include <string>

namespace VOQ {

class Error : public std::runtime_error {
public:
    explicit Error(const std::string& message) : std::runtime_error(message) {}
};

// A framing fault in the data stream; the reader resynchronises.
class DataStreamError : public Error {
public:
    explicit DataStreamError(const std::string& message) : Error(message) {}
};

// The link to the headset itself failed: a read or a write found the device
// gone (the line hung up; EIO, ENXIO, ENODEV, EPIPE; the device node
// removed).  A refusal or a silent device on a live line is a plain Error.
// Disconnect closes the port after this kind only.
class LinkError : public Error {
public:
    explicit LinkError(const std::string& message) : Error(message) {}
};

// A reconnection found another headset on the port (another serial number,
// or calibration memory unlike the one read before): it gives up at once.
class DifferentHeadsetError : public Error {
public:
    explicit DifferentHeadsetError(const std::string& message) : Error(message) {}
};

// Verifies the library's own build assumptions; throws one Error naming every
// failed check, returns quietly in a correct build.
void SanityCheck();

}  // namespace VOQ

#endif
