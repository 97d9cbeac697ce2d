// Opening and closing the serial port through the serial line library, and
// the one-sentence explanation of a port that will not open.
#pragma once

#include <string>

#include "step_report.h"
#include "step_runner.h"

namespace orvel::tool {

struct LineSettings {
    int port = 1;
    int baud = 9600;
    int read_timeout_ms = 500;
};

// The baud rates the serial library applies; any other falls back to 9600
// there, so the tool refuses them instead.
bool is_supported_baud(long long baud);
std::string supported_bauds_text();

// COM_Initialize (8 data bits, no parity, one stop bit) and COM_Open.
StepResult open_port(const LineSettings& settings, FrameSource* frames);
StepResult close_port(int port, FrameSource* frames);

// The device that port number n names on this system: TARVEX_COM<n> when it
// is set, otherwise the serial library's default for COMn.
std::string device_path_for(int port);

// "--port 3: COM3 did not open (tried /dev/ttyS2: ...); point it at another
// device with TARVEX_COM3=/dev/ttyUSB0." The result code of COM_Open picks
// the middle part.
std::string port_open_failure_sentence(int port, int code);

}  // namespace orvel::tool
