// A minimal host for the simulator's tests: opens the device path as a raw
// serial port, writes command packets and decodes blocks with its own code
// (deliberately not the library's), so that the tests check the wire bytes.
#ifndef VOQSIM_TESTS_HOST_LINK_H
#define VOQSIM_TESTS_HOST_LINK_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace simtest {

using Bytes = std::vector<uint8_t>;

// Bit by bit: polynomial 0x8005, initial 0, no reflection, no final XOR.
uint16_t Crc16(const uint8_t* data, size_t length);

uint16_t U16(const uint8_t* p);
int16_t S16(const uint8_t* p);
uint32_t U32(const uint8_t* p);
Bytes U16Bytes(unsigned v);
double Seconds();   // monotonic

struct Packet {
    int species = -1;
    uint32_t stamp = 0;
    Bytes bytes;        // the whole packet, header included
    // Responses.
    int Code() const { return bytes.size() > 6 ? bytes[6] : -1; }
    int Identifier() const { return bytes.size() > 7 ? bytes[7] : -1; }
    Bytes Payload() const { return bytes.size() > 8 ? Bytes(bytes.begin() + 8, bytes.end()) : Bytes(); }
};

struct Block {
    size_t length = 0;          // the length field
    uint32_t stamp = 0;
    bool crcOk = false;
    bool packetsFit = false;    // the packets exactly fill the packet area
    uint16_t number = 0;
    uint8_t clock[6] = {0, 0, 0, 0, 0, 0};
    std::vector<Packet> packets;
    double arrival = 0.0;       // Seconds() when the block was complete
};

class HostLink {
public:
    explicit HostLink(const std::string& path);
    ~HostLink();
    HostLink(const HostLink&) = delete;
    HostLink& operator=(const HostLink&) = delete;

    bool IsOpen() const { return fd_ >= 0; }
    void Close();

    void Write(const Bytes& bytes);
    // Writes a command packet; returns the identifier used (a fresh one when
    // `identifier` is negative).
    int Send(int destination, int family, const Bytes& payload, int identifier = -1,
             bool prefix = false, bool spoilCrc = false);

    // Every byte that arrives within `seconds` (after what is already kept).
    Bytes ReadFor(double seconds);
    // The next block, skipping anything before a start code.  False when none
    // is complete within `timeout` seconds.
    bool NextBlock(Block& block, double timeout);
    // Reads blocks until a response with this identifier arrives; every other
    // packet read meanwhile (and those after the response in its block) goes
    // to `others` when given.
    bool Response(int identifier, Packet& response, double timeout,
                  std::vector<Packet>* others = nullptr);
    // Sends a command and waits for its response (one second).
    bool Ask(int destination, int family, const Bytes& payload, Packet& response,
             std::vector<Packet>* others = nullptr);

    // The read end reported a hang-up or an error.
    bool hungUp = false;

private:
    bool Fill(double deadline);
    int fd_ = -1;
    int nextIdentifier_ = 1;
    Bytes buffer_;
};

}  // namespace simtest

#endif
