// The master side of a fresh pseudo-terminal, with a slave descriptor held
// open so that a client closing the port never hangs the master up.
#pragma once

#include <string>

namespace sim {

class PtyMaster {
public:
    PtyMaster();  // throws std::runtime_error
    ~PtyMaster();
    PtyMaster(const PtyMaster&) = delete;
    PtyMaster& operator=(const PtyMaster&) = delete;

    int fd() const { return master_; }  // non-blocking
    const std::string& slave_path() const { return slave_path_; }

private:
    int master_ = -1;
    int keeper_ = -1;
    std::string slave_path_;
};

// A pipe whose read end becomes readable once notify() was called.
class WakePipe {
public:
    WakePipe();
    ~WakePipe();
    WakePipe(const WakePipe&) = delete;
    WakePipe& operator=(const WakePipe&) = delete;
    int read_fd() const { return fds_[0]; }
    void notify();

private:
    int fds_[2] = {-1, -1};
};

}  // namespace sim
