// Placeholder definitions, replaced by the real ones as they are written.
#pragma GCC diagnostic ignored "-Wunused-parameter"
#include "voq/SerialPort.h"

#include "voq/Error.h"

namespace VOQ {

SerialPort::SerialPort() : timeOpened(0), descriptor(0), savedSettings(nullptr), fakeData(nullptr) {}
SerialPort::~SerialPort() {}
void SerialPort::Init() { throw Error("not implemented yet: SerialPort::Init"); }
void SerialPort::CleanUp() { throw Error("not implemented yet: SerialPort::CleanUp"); }
void SerialPort::Open(const std::string& name) { throw Error("not implemented yet: SerialPort::Open"); }
void SerialPort::Close() { throw Error("not implemented yet: SerialPort::Close"); }
size_t SerialPort::Receive(void* buffer, size_t count, double timeout) { throw Error("not implemented yet: SerialPort::Receive"); }
int SerialPort::Send(const void* data, size_t length) { throw Error("not implemented yet: SerialPort::Send"); }
std::string DefaultPort() { throw Error("not implemented yet: DefaultPort"); }
std::string ReadEnvironmentVariable(const std::string& name) { throw Error("not implemented yet: ReadEnvironmentVariable"); }

}  // namespace VOQ
