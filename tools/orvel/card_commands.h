// The card library's commands as tool steps: each calls one exported
// function with already-checked arguments and names what it returns.
#pragma once

#include <cstdint>
#include <string>

#include "argument_parsing.h"
#include "step_report.h"
#include "step_runner.h"

namespace orvel::tool {

// Everything a step needs to reach the card.
struct CardLine {
    int port = 1;
    FrameSource* frames = nullptr;
};

// Largest data blocks the commands carry in one frame.
inline constexpr std::size_t kMaxPlainWrite = 118;
inline constexpr std::size_t kMaxMacWrite = 115;
inline constexpr std::size_t kMaxReadLength = 121;
inline constexpr std::size_t kMaxCommandBlock = 126;
inline constexpr long long kMaxAmount = 0xFFFFFF;
inline constexpr std::uint8_t kClaMacProtected = 0x04;

// Le that OrvelGetInfo asks for with this P2.
std::size_t info_length_for(std::uint8_t p2);

StepResult power_on(const CardLine& line);
StepResult power_off(const CardLine& line);
StepResult get_info(const CardLine& line, std::uint8_t cla, std::uint8_t p1, std::uint8_t p2, const std::string& what);
StepResult select_file(const CardLine& line, std::uint8_t p1, std::uint8_t p2, std::uint8_t p3, std::uint16_t file_id);
StepResult read_binary(const CardLine& line, std::uint8_t cla, std::uint8_t p1, std::uint8_t p2, std::uint8_t le);
StepResult read_record(const CardLine& line, std::uint8_t cla, std::uint8_t p1, std::uint8_t p2, std::uint8_t le);
// MAC-protected when keys are given (CLA 04).
StepResult update_binary(const CardLine& line, std::uint8_t cla, std::uint8_t p1, std::uint8_t p2, const Bytes& data,
                         const Key* mac_key_a, const Key* mac_key_b);
StepResult read_balance(const CardLine& line, std::uint8_t cla, std::uint8_t p2, const Bytes& data4);
StepResult credit(const CardLine& line, std::uint8_t cla, std::uint8_t p1, std::uint32_t amount, const Bytes& data8);
StepResult debit(const CardLine& line, std::uint8_t cla, const Bytes& data4, int amount);
StepResult update_purse_value(const CardLine& line, std::uint8_t mark, std::uint16_t file_id, std::uint8_t short_id,
                              const Bytes& a, const Bytes& b, const Bytes& c, const Bytes& d);
// OrvelAuth on the current file.
StepResult authenticate(const CardLine& line, const Key& key_a, const Key& key_b, const std::string& action);
// OrvelInfoFile: power up, select 3F01, authenticate.
StepResult authenticate_3f01(const CardLine& line, const Key& key_a, const Key& key_b, const std::string& action);
StepResult make_system_key(const CardLine& line, const Key& master);
StepResult change_key(const CardLine& line, const Key& key_a, const Key& key_b, const Key& master);
StepResult verify(const CardLine& line, std::uint8_t cla, std::uint8_t p2, const Bytes& code8);
// OrvelSendFrame then OrvelRcvFrame; the reply block comes back whole.
StepResult send_frame(const CardLine& line, const Bytes& block);

}  // namespace orvel::tool
