#include "port_line.h"

#include <tarvex.h>

#include <array>
#include <cstdlib>

namespace orvel::tool {

namespace {

constexpr std::array<int, 13> kSupportedBauds = {110,   300,   600,   1200,  2400,   4800,  9600,
                                                 14400, 19200, 38400, 56000, 57600, 115200};
constexpr int kHighestBaud = 256000;
constexpr int kDataBits = 8;
constexpr char kNoParity = 'N';
constexpr char kOneStopBit = 1;

}  // namespace

bool is_supported_baud(long long baud) {
    if (baud == kHighestBaud) return true;
    for (int b : kSupportedBauds) {
        if (b == baud) return true;
    }
    return false;
}

std::string supported_bauds_text() {
    std::string text;
    for (int b : kSupportedBauds) text += std::to_string(b) + ", ";
    return text + std::to_string(kHighestBaud);
}

StepResult open_port(const LineSettings& settings, FrameSource* frames) {
    return run_step(
        "open COM" + std::to_string(settings.port) + " at " + std::to_string(settings.baud) + " baud", "COM_Open",
        [&](std::vector<StepValue>&) {
            COM_Initialize(settings.port, settings.baud, kDataBits, kNoParity, kOneStopBit, settings.read_timeout_ms);
            return COM_Open(settings.port);
        },
        frames);
}

StepResult close_port(int port, FrameSource* frames) {
    return run_step(
        "close COM" + std::to_string(port), "COM_Close",
        [&](std::vector<StepValue>&) { return COM_Close(port) ? 1 : 0; }, frames);
}

std::string device_path_for(int port) {
    std::string variable = "TARVEX_COM" + std::to_string(port);
    if (const char* mapped = std::getenv(variable.c_str()); mapped && *mapped) return mapped;
    if (port >= 1) return "/dev/ttyS" + std::to_string(port - 1);
    return "";
}

std::string port_open_failure_sentence(int port, int code) {
    std::string name = "COM" + std::to_string(port);
    std::string device = device_path_for(port);
    std::string tried = device.empty() ? "no device is mapped to it" : "tried " + device;
    std::string why;
    switch (code) {
    case 0: why = "the device did not open or would not take the line settings"; break;
    case -1: why = "the device refused the line settings"; break;
    case -99: why = "it is already open"; break;
    default: why = "COM_Open returned " + std::to_string(code); break;
    }
    return "--port " + std::to_string(port) + ": " + name + " did not open (" + tried + ": " + why +
           "); point it at another device with TARVEX_COM" + std::to_string(port) + "=/dev/ttyUSB0, for example.";
}

}  // namespace orvel::tool
