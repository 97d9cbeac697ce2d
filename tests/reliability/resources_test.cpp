// Descriptors and memory over many opens: successful open/close cycles,
// opens of a missing device, opens the line state refuses, and ports left
// open but unconfigured that COM_Close must release. Each run must leave the
// process's descriptor count where it started and its heap in use within a
// small allowance for the allocator's own bookkeeping.
#include <dirent.h>
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <termios.h>
#include <unistd.h>
#include <malloc.h>
#include <tarvex.h>

#include <atomic>
#include <cstdio>
#include <functional>
#include <string>

#include "pty_pair.h"

namespace {

// While set, the queue purge of the line configuration fails (see tcflush
// below), so COM_Open opens the device but cannot configure it.
std::atomic<bool> purge_fails{false};

}  // namespace

// Takes the place of the C library's tcflush for the serial library (the
// program exports it).
extern "C" __attribute__((visibility("default"))) int tcflush(int fd, int queue) {
    using Flush = int (*)(int, int);
    static const auto real_flush = reinterpret_cast<Flush>(dlsym(RTLD_NEXT, "tcflush"));
    if (purge_fails) return -1;
    return real_flush(fd, queue);
}

namespace {

constexpr int kPort = 41;
constexpr int kCycles = 10000;
// Heap growth we accept over 10,000 cycles: far below one byte per cycle
// leaked per row, so a leak of even one small allocation per open shows.
constexpr long kHeapAllowanceBytes = 4096;

int open_descriptors() {
    int count = 0;
    if (DIR* dir = opendir("/proc/self/fd")) {
        while (const dirent* entry = readdir(dir))
            if (entry->d_name[0] != '.') ++count;
        closedir(dir);
    }
    return count - 1;  // the directory's own descriptor
}

long heap_in_use() { return static_cast<long>(mallinfo2().uordblks); }

// Resident pages, for the record only: the kernel's count moves with page
// faults that have nothing to do with leaks.
long resident_kib() {
    long size = 0, resident = 0;
    if (std::FILE* f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld %ld", &size, &resident) != 2) resident = 0;
        std::fclose(f);
    }
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

struct Usage {
    int descriptors;
    long heap;
    long resident;
};
// The heap is read last, so the reads before it cannot move it.
Usage usage() {
    Usage u{};
    u.resident = resident_kib();
    u.descriptors = open_descriptors();
    u.heap = heap_in_use();
    return u;
}

// Runs `cycle` a few times to warm up, then kCycles times, and checks that
// descriptors and heap came back.
void expect_no_growth(const char* what, const std::function<void()>& cycle) {
    for (int i = 0; i < 10; ++i) cycle();
    const Usage before = usage();
    for (int i = 0; i < kCycles; ++i) cycle();
    const Usage after = usage();
    std::printf("%s: %d cycles, descriptors %d -> %d, heap in use %ld -> %ld bytes, resident %ld -> %ld KiB\n",
                what, kCycles, before.descriptors, after.descriptors, before.heap, after.heap, before.resident,
                after.resident);
    EXPECT_EQ(after.descriptors, before.descriptors) << what;
    EXPECT_LE(after.heap - before.heap, kHeapAllowanceBytes) << what;
}

class Resources : public ::testing::Test {
protected:
    void TearDown() override {
        purge_fails = false;
        COM_Close(kPort);
        testing_support::unmap_port(kPort);
    }
};

TEST_F(Resources, OpenCloseCyclesReleaseEverything) {
    testing_support::PtyPair pty;
    testing_support::map_port(kPort, pty.slave_path());
    COM_Initialize(kPort, 9600, 8, 'N', 1, 0);
    expect_no_growth("open/close", [] {
        ASSERT_EQ(COM_Open(kPort), 1);
        ASSERT_TRUE(IsOpened(kPort));
        COM_Close(kPort);
        ASSERT_FALSE(IsOpened(kPort));
    });
}

TEST_F(Resources, OpensOfAMissingDeviceLeaveNothing) {
    testing_support::map_port(kPort, "/nonexistent/ttyORVEL");
    COM_Initialize(kPort, 9600, 8, 'N', 1, 0);
    expect_no_growth("missing device", [] {
        ASSERT_EQ(COM_Open(kPort), 0);
        ASSERT_FALSE(IsOpened(kPort));
    });
}

TEST_F(Resources, RefusedLineStatesCloseTheDevice) {
    testing_support::PtyPair pty;
    testing_support::map_port(kPort, pty.slave_path());
    // A pseudo-terminal keeps 8 bits and no parity, so 7E1 is refused.
    COM_Initialize(kPort, 9600, 7, 'E', 1, 0);
    expect_no_growth("refused line state", [] {
        ASSERT_EQ(COM_Open(kPort), -1);
        ASSERT_FALSE(IsOpened(kPort));
    });
}

TEST_F(Resources, AnOpenButUnconfiguredPortIsReleasedByClose) {
    // The device opens but its configuration fails: COM_Open gives 0 with
    // the port still held, and only COM_Close lets it go.
    testing_support::PtyPair pty;
    testing_support::map_port(kPort, pty.slave_path());
    COM_Initialize(kPort, 9600, 8, 'N', 1, 0);
    purge_fails = true;
    const int descriptors = open_descriptors();
    ASSERT_EQ(COM_Open(kPort), 0);
    ASSERT_TRUE(IsOpened(kPort));
    EXPECT_EQ(COM_Open(kPort), -99);
    COM_Close(kPort);
    EXPECT_FALSE(IsOpened(kPort));
    EXPECT_EQ(open_descriptors(), descriptors);

    expect_no_growth("open but unconfigured", [] {
        ASSERT_EQ(COM_Open(kPort), 0);
        COM_Close(kPort);
        ASSERT_FALSE(IsOpened(kPort));
    });
}

}  // namespace
