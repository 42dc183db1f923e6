// The failure types of the object model.  Every failure is thrown as an
// Error carrying its message; framing faults of the data stream are the
// DataStreamError kind of it, so one handler catches both.
#ifndef VOQ_ERROR_H
#define VOQ_ERROR_H

#include <stdexcept>
#include <string>

namespace VOQ {

class Error : public std::runtime_error {
public:
    explicit Error(const std::string& message) : std::runtime_error(message) {}
};

class DataStreamError : public Error {
public:
    explicit DataStreamError(const std::string& message) : Error(message) {}
};

// Verifies the library's own build assumptions; throws one Error naming every
// failed check, returns quietly in a correct build.
void SanityCheck();

}  // namespace VOQ

#endif
