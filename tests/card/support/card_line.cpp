#include "card_line.h"

#include "line_faults.h"
#include "tarvex.h"

namespace card_test {

using testing_support::card_reply;
using testing_support::reply_block;

Reply ok_reply(std::vector<std::uint8_t> data, std::uint8_t sw1, std::uint8_t sw2) {
    return Reply::block(card_reply(data, sw1, sw2));
}

Reply more_data_reply(std::uint8_t le) { return Reply::block(card_reply({}, 0x61, le)); }

Reply refused_reply() { return Reply::block(reply_block(0x6F, std::vector<std::uint8_t>{0x90, 0x00})); }

void CardLineTest::SetUp() {
    reader_ = std::make_unique<ScriptedReader>(kPort);
    COM_Initialize(kPort, 9600, 8, 'N', 1, kReadTimeoutMs);
    ASSERT_EQ(COM_Open(kPort), 1) << "cannot open " << reader_->path();
}

void CardLineTest::TearDown() {
    clear_write_faults();
    COM_Close(kPort);
    reader_.reset();
}

bool CardLineTest::powered_off_last() const {
    const auto received = reader_->blocks();
    return !received.empty() && received.back() == kPowerDownBlock;
}

}  // namespace card_test
