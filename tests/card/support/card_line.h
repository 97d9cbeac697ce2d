// A card line for tests: a scripted reader on a pseudo-terminal, opened as
// COM<kPort> with the serial library, and the replies most tests script.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <vector>

#include "scripted_reader.h"

namespace card_test {

using testing_support::Bytes;
using testing_support::Reply;
using testing_support::ScriptedReader;

inline constexpr int kPort = 7;
// The port's read time-out constant T: one failed one-byte read lasts up to
// 500 + T ms.
inline constexpr int kReadTimeoutMs = 50;
inline constexpr std::chrono::milliseconds kOneByteTimeout{500 + kReadTimeoutMs};
// Longer than a one-byte read time-out, with room for a loaded machine.
inline constexpr std::chrono::milliseconds kStall = kOneByteTimeout + std::chrono::milliseconds(400);

// The power-down block, which commands send when a first phase fails.
inline const Bytes kPowerDownBlock{0x60, 0x02, 0x4D, 0x00};

// Replies: the card's answer with reader status 0x00; "0x61 le" asking for
// a follow-up; a reply the status rule refuses (status 0x6F, SW1 0x90).
Reply ok_reply(std::vector<std::uint8_t> data = {}, std::uint8_t sw1 = 0x90, std::uint8_t sw2 = 0x00);
Reply more_data_reply(std::uint8_t le);
Reply refused_reply();

class CardLineTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    ScriptedReader& reader() { return *reader_; }
    // The blocks the reader received, check characters excluded.
    std::vector<Bytes> blocks() const { return reader_->blocks(); }
    bool powered_off_last() const;

private:
    std::unique_ptr<ScriptedReader> reader_;
};

}  // namespace card_test
