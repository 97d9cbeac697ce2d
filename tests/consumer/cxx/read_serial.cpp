// The C++ twin of read_serial.c: open the line, power the card up, read its
// serial number and print it as 16 hex digits. Usage: read_serial_cxx PORT
#include <orvel.h>
#include <tarvex.h>

#include <array>
#include <cstdio>
#include <string>

namespace {

constexpr unsigned char kClaProprietary = 0x80;
constexpr unsigned char kInfoP1 = 0x02;
constexpr unsigned char kInfoSerialNumber = 0xA1;
constexpr std::size_t kSerialLength = 8;

// Powers the card down and closes the line however main returns.
class CardSession {
public:
    explicit CardSession(int port) : port_(port) {}
    ~CardSession() {
        if (powered_) Gcr400PowerOff(port_);
        COM_Close(port_);
    }
    CardSession(const CardSession&) = delete;
    CardSession& operator=(const CardSession&) = delete;
    void mark_powered() { powered_ = true; }

private:
    int port_;
    bool powered_ = false;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s PORT\n", argv[0]);
        return 2;
    }
    const int port = std::stoi(argv[1]);

    COM_Initialize(port, 9600, 8, 'N', 1, 1000);
    if (const int opened = COM_Open(port); opened != 1) {
        std::fprintf(stderr, "COM_Open(%d) returned %d\n", port, opened);
        return 1;
    }
    CardSession session(port);
    if (const int rc = Gcr400PowerOn(port); rc != 0) {
        std::fprintf(stderr, "Gcr400PowerOn returned %d\n", rc);
        return 1;
    }
    session.mark_powered();

    std::array<unsigned char, kSerialLength + 1> serial{};
    if (const int rc = OrvelGetInfo(port, kClaProprietary, kInfoP1, kInfoSerialNumber, serial.data());
        rc != 0) {
        std::fprintf(stderr, "OrvelGetInfo returned %d\n", rc);
        return 1;
    }
    for (std::size_t i = 0; i < kSerialLength; ++i) std::printf("%02X", serial[i]);
    std::printf("\n");
    return 0;
}
