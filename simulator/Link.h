// The device's link to the host: a pseudo-terminal whose other side the host
// opens as a serial port, the bytes waiting to be written to it, the record
// of written blocks (the latency hook), and an optional symbolic link that
// names the current terminal.  Internal to the simulator; not thread-safe
// (the device's mutex guards it).
#ifndef VOQSIM_LINK_H
#define VOQSIM_LINK_H

#include "PortWatch.h"
#include "Simulator.h"
#include "Wire.h"

#include <deque>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace voqsim {

class Link {
public:
    Link() = default;
    ~Link() { Close(); }
    Link(const Link&) = delete;
    Link& operator=(const Link&) = delete;

    // Opens a fresh pseudo-terminal (raw, 921600 baud) and watches its host
    // side.  The device keeps the host side open itself, so that the port
    // never hangs up between connections and bytes sent before the host
    // opens wait for it.  Throws std::runtime_error.
    void Open();
    // Closes the terminal: a real hang-up.  The host's reads and writes fail
    // and the device path goes away.  Pending output is dropped.
    void Close();
    bool IsOpen() const { return master_ >= 0; }
    const std::string& Path() const { return path_; }
    int Descriptor() const { return master_; }   // for poll(); -1 when closed
    PortWatch& Watch() { return watch_; }
    // Discards what the host wrote and the device has not read.
    void FlushHostInput();

    // Appends what the host sent to `into`.
    void Read(Bytes& into);

    // Output, written as the terminal takes it.  A block is recorded, when
    // the record is on, once its last byte has been written.
    void Append(const Bytes& bytes) { output_.insert(output_.end(), bytes.begin(), bytes.end()); }
    void AppendBlock(const Bytes& bytes, const BlockWrite& block);
    size_t Backlog() const { return output_.size(); }
    void DropOutput();
    // Writes what the terminal takes now; `now` gives the time base of the
    // record.
    void Flush(const std::function<double()>& now);

    void RecordWrites(bool on);
    std::vector<BlockWrite> TakeWrites();

    // The symbolic link: SetLinkPath() names it ("" for none); Publish()
    // points it at the current terminal, replacing it atomically; Withdraw()
    // removes it.
    void SetLinkPath(const std::string& path) { linkPath_ = path; }
    void Publish();
    void Withdraw();

private:
    int master_ = -1;
    int slave_ = -1;
    std::string path_;
    PortWatch watch_;
    std::string linkPath_;

    Bytes output_;
    bool record_ = false;
    std::deque<std::pair<size_t, BlockWrite>> unwritten_;   // with the output bytes up to their end
    std::vector<BlockWrite> written_;
};

}  // namespace voqsim

#endif
