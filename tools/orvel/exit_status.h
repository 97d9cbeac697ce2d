// The tool's exit statuses. Each kind of failure has its own, so scripts can
// tell a card that refused from an argument that was never sent.
#pragma once

namespace orvel::tool {

enum ExitStatus : int {
    kExitOk = 0,
    kExitCommandFailed = 1,    // a library call returned a failing result code
    kExitUsage = 2,            // unknown command or option, missing value
    kExitMalformedHex = 3,     // an argument that should be hex text is not
    kExitWrongLength = 4,      // a key, code or data block of the wrong size
    kExitOutOfRange = 5,       // an amount, length, byte or port number outside its range
    kExitPortWontOpen = 6,     // the serial port did not open
    kExitSimulatorFailed = 7,  // the built-in simulator could not be started
};

}  // namespace orvel::tool
