// The serving thread: splits the byte stream into frames at 0x03, lets the
// reader and card answer, and puts the reply on the line, faults applied.
#include "sim/simulator.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <thread>

#include "pty_master.h"
#include "sim/reader.h"

namespace sim {

namespace {

// A frame longer than this without a terminator is garbage: the rest up to
// the next 0x03 is dropped and the frame refused as too long.
constexpr std::size_t kMaxKeptCharacters = 600;
constexpr std::size_t kReadChunk = 256;

struct CommandFault {
    FrameMatch match;
    Fault fault;
    int remaining;
};

bool matches(const FrameMatch& match, const ParsedFrame& frame) {
    if (!frame.ok()) return false;
    if (match.reader_command && *match.reader_command != frame.reader_command()) return false;
    auto payload = frame.payload();
    if (match.cla && (payload.empty() || payload[0] != *match.cla)) return false;
    if (match.ins && (payload.size() < 2 || payload[1] != *match.ins)) return false;
    return true;
}

std::uint8_t next_hex_digit(std::uint8_t c) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    for (int i = 0; i < 16; ++i) {
        if (kDigits[i] == c) return static_cast<std::uint8_t>(kDigits[(i + 1) % 16]);
    }
    return '0';
}

std::uint64_t fresh_seed() {
    std::random_device device;
    return static_cast<std::uint64_t>(device()) << 32 | device();
}

}  // namespace

struct Simulator::Impl {
    explicit Impl(SimulatorOptions options)
        : card(std::move(options.card), options.random_seed ? *options.random_seed : fresh_seed()),
          baud(options.baud),
          keep_frames(options.keep_frames),
          trace(std::move(options.trace)) {}

    PtyMaster pty;
    WakePipe wake;

    mutable std::mutex mutex;  // guards everything below up to the thread
    mutable std::condition_variable changed;
    Card card;
    std::deque<FrameRecord> records;
    std::size_t exchanges = 0;
    std::map<std::size_t, Fault> exchange_faults;
    std::vector<CommandFault> command_faults;
    unsigned baud;
    std::size_t keep_frames;
    TraceSink trace;
    bool stopping = false;

    std::thread thread;

    void serve();
    void handle(Bytes raw, bool too_long);
    Fault take_fault(std::size_t number, const ParsedFrame& frame);
    bool send(std::span<const std::uint8_t> bytes);
    bool pause(std::chrono::milliseconds delay);
    bool is_stopping() {
        std::lock_guard lock(mutex);
        return stopping;
    }
};

void Simulator::Impl::serve() {
    Bytes text;
    bool discarding = false;
    std::uint8_t chunk[kReadChunk];
    for (;;) {
        pollfd fds[2] = {{pty.fd(), POLLIN, 0}, {wake.read_fd(), POLLIN, 0}};
        int ready = poll(fds, 2, -1);
        if (ready < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (fds[1].revents != 0 || is_stopping()) return;
        if ((fds[0].revents & (POLLERR | POLLNVAL)) != 0) return;
        if ((fds[0].revents & POLLIN) == 0) {
            // A hang-up cannot last while the keeper descriptor is open; do
            // not spin if it shows up anyway.
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            continue;
        }
        ssize_t n = read(pty.fd(), chunk, sizeof chunk);
        if (n <= 0) {
            if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
            if (n < 0 && errno == EIO) {  // no slave open at this moment
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
                continue;
            }
            return;
        }
        for (ssize_t i = 0; i < n; ++i) {
            const std::uint8_t byte = chunk[i];
            if (text.size() < kMaxKeptCharacters) {
                text.push_back(byte);
            } else {
                discarding = true;
            }
            if (byte == kFrameEnd) {
                if (discarding && text.back() != kFrameEnd) text.push_back(kFrameEnd);
                handle(std::move(text), discarding);
                text.clear();
                discarding = false;
                if (is_stopping()) return;
            }
        }
    }
}

Fault Simulator::Impl::take_fault(std::size_t number, const ParsedFrame& frame) {
    if (auto it = exchange_faults.find(number); it != exchange_faults.end()) {
        Fault fault = it->second;
        exchange_faults.erase(it);
        return fault;
    }
    for (auto it = command_faults.begin(); it != command_faults.end(); ++it) {
        if (matches(it->match, frame)) {
            Fault fault = it->fault;
            if (--it->remaining <= 0) command_faults.erase(it);
            return fault;
        }
    }
    return {};
}

void Simulator::Impl::handle(Bytes raw, bool too_long) {
    FrameRecord record;
    std::string line_in;
    std::string line_out;
    TraceSink sink;
    {
        std::lock_guard lock(mutex);
        record.number = ++exchanges;
        if (too_long) {
            record.parsed.error = FrameError::too_long;
        } else {
            record.parsed = parse_frame(std::span(raw).first(raw.size() - 1));
        }
        record.raw = std::move(raw);
        record.fault = take_fault(record.number, record.parsed);
        if (record.fault.kind == FaultKind::wrong_mac) card.spoil_next_response_mac();
        record.reply_block = answer_frame(record.parsed, card);

        Bytes block = record.reply_block;
        if (record.fault.kind == FaultKind::reader_status) {
            block[2] = record.fault.status;
            std::uint8_t check = 0;
            for (std::size_t i = 0; i + 1 < block.size(); ++i) check ^= block[i];
            block.back() = check;
        }
        Bytes wire = encode_wire(block);
        const std::size_t text_length = wire.size() - 1;  // characters before the terminator
        switch (record.fault.kind) {
            case FaultKind::corrupt_char:
                if (record.fault.position < text_length) {
                    auto& c = wire[record.fault.position];
                    c = record.fault.replacement != 0 ? record.fault.replacement : next_hex_digit(c);
                }
                break;
            case FaultKind::cut_reply: wire.resize(std::min(record.fault.position, text_length)); break;
            case FaultKind::no_reply: wire.clear(); break;
            default: break;
        }
        record.reply_wire = wire;
        if (trace) {
            sink = trace;
            line_in = describe_frame_in(record.number, record.parsed);
            line_out = describe_reply(record.number, record.parsed, block);
            if (record.fault.kind != FaultKind::none) line_out += " [fault: " + describe(record.fault) + "]";
        }
        records.push_back(record);
        while (records.size() > keep_frames) records.pop_front();
    }
    changed.notify_all();
    if (sink) {
        sink(line_in);
        sink(line_out);
    }

    std::span<const std::uint8_t> wire(record.reply_wire);
    const Fault& fault = record.fault;
    switch (fault.kind) {
        case FaultKind::stall_once: {
            const std::size_t at = std::min(fault.position, wire.size());
            if (send(wire.first(at)) && pause(fault.delay)) send(wire.subspan(at));
            break;
        }
        case FaultKind::stall_twice: {
            const std::size_t first = std::min(fault.position, wire.size());
            const std::size_t second = std::clamp(fault.position2, first, wire.size());
            if (send(wire.first(first)) && pause(fault.delay) && send(wire.subspan(first, second - first)) &&
                pause(fault.delay)) {
                send(wire.subspan(second));
            }
            break;
        }
        case FaultKind::late_reply:
            if (pause(fault.delay)) send(wire);
            break;
        default: send(wire); break;
    }
}

bool Simulator::Impl::pause(std::chrono::milliseconds delay) {
    std::unique_lock lock(mutex);
    return !changed.wait_for(lock, delay, [this] { return stopping; });
}

bool Simulator::Impl::send(std::span<const std::uint8_t> bytes) {
    using clock = std::chrono::steady_clock;
    const auto start = clock::now();
    // 10 bits a byte: start bit, 8 data bits, stop bit.
    const auto byte_time = baud > 0 ? std::chrono::nanoseconds(10'000'000'000LL / baud) : std::chrono::nanoseconds(0);
    std::size_t done = 0;
    while (done < bytes.size()) {
        if (is_stopping()) return false;
        std::size_t count = bytes.size() - done;
        if (baud > 0) {
            count = 1;
            std::this_thread::sleep_until(start + byte_time * static_cast<long long>(done));
        }
        ssize_t n = write(pty.fd(), bytes.data() + done, count);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno == EAGAIN) {
            // The client is not reading; wait for room or for stop.
            pollfd fds[2] = {{pty.fd(), POLLOUT, 0}, {wake.read_fd(), POLLIN, 0}};
            poll(fds, 2, 100);
            continue;
        }
        return false;
    }
    if (baud > 0) std::this_thread::sleep_until(start + byte_time * static_cast<long long>(bytes.size()));
    return true;
}

Simulator::Simulator(SimulatorOptions options) : impl_(std::make_unique<Impl>(std::move(options))) {
    impl_->thread = std::thread([impl = impl_.get()] { impl->serve(); });
}

Simulator::~Simulator() { stop(); }

void Simulator::stop() {
    if (!impl_) return;
    {
        std::lock_guard lock(impl_->mutex);
        impl_->stopping = true;
    }
    impl_->changed.notify_all();
    impl_->wake.notify();
    if (impl_->thread.joinable() && impl_->thread.get_id() != std::this_thread::get_id()) impl_->thread.join();
}

const std::string& Simulator::slave_path() const { return impl_->pty.slave_path(); }

void Simulator::map_port(int port) const {
    const std::string name = "TARVEX_COM" + std::to_string(port);
    setenv(name.c_str(), slave_path().c_str(), 1);
}

void Simulator::inject(std::size_t exchange_number, Fault fault) {
    std::lock_guard lock(impl_->mutex);
    impl_->exchange_faults[exchange_number] = fault;
}

void Simulator::inject_on(FrameMatch match, Fault fault, int times) {
    if (times <= 0) return;
    std::lock_guard lock(impl_->mutex);
    impl_->command_faults.push_back({match, fault, times});
}

void Simulator::clear_faults() {
    std::lock_guard lock(impl_->mutex);
    impl_->exchange_faults.clear();
    impl_->command_faults.clear();
}

std::vector<FrameRecord> Simulator::frames() const {
    std::lock_guard lock(impl_->mutex);
    return {impl_->records.begin(), impl_->records.end()};
}

void Simulator::clear_frames() {
    std::lock_guard lock(impl_->mutex);
    impl_->records.clear();
}

std::size_t Simulator::exchange_count() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->exchanges;
}

bool Simulator::wait_for_exchanges(std::size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(impl_->mutex);
    return impl_->changed.wait_for(lock, timeout, [&] { return impl_->exchanges >= count; });
}

CardState Simulator::card() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->card.state();
}

void Simulator::set_card(CardState state) {
    std::lock_guard lock(impl_->mutex);
    impl_->card.set_state(std::move(state));
}

void Simulator::set_trace(TraceSink sink) {
    std::lock_guard lock(impl_->mutex);
    impl_->trace = std::move(sink);
}

}  // namespace sim
