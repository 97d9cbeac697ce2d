// Forced write failures: COM_Write as the card library sees it fails for
// chosen calls, so a test can fail one send and still watch the next ones
// (a power-down, a follow-up) reach the line.
#pragma once

namespace card_test {

// The next `count` writes after the next `after` ones fail without touching
// the line.
void fail_writes(int count, int after = 0);
void clear_write_faults();

}  // namespace card_test
