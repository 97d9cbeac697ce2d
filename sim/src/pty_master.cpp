#include "pty_master.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <stdexcept>

namespace sim {

namespace {

void make_raw(int fd) {
    termios tio{};
    if (tcgetattr(fd, &tio) == 0) {
        cfmakeraw(&tio);
        tcsetattr(fd, TCSANOW, &tio);
    }
}

}  // namespace

PtyMaster::PtyMaster() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0) throw std::runtime_error("cannot open a pseudo-terminal");
    char name[128] = {};
    if (grantpt(master_) != 0 || unlockpt(master_) != 0 || ptsname_r(master_, name, sizeof name) != 0) {
        close(master_);
        throw std::runtime_error("cannot prepare the pseudo-terminal");
    }
    slave_path_ = name;
    make_raw(master_);
    keeper_ = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (keeper_ < 0) {
        close(master_);
        throw std::runtime_error("cannot open the pseudo-terminal's slave side");
    }
    make_raw(keeper_);
    fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
}

PtyMaster::~PtyMaster() {
    close(keeper_);
    close(master_);
}

WakePipe::WakePipe() {
    if (pipe2(fds_, O_CLOEXEC | O_NONBLOCK) != 0) throw std::runtime_error("cannot create a pipe");
}

WakePipe::~WakePipe() {
    close(fds_[0]);
    close(fds_[1]);
}

void WakePipe::notify() {
    const char byte = 1;
    [[maybe_unused]] auto n = write(fds_[1], &byte, 1);
}

}  // namespace sim
