// A scripted card for the composite commands (authentication, code
// presentation, key change): it answers every block the way a sound card
// would, computing the key-file selection's cryptogram independently with
// OpenSSL, and refuses the steps a test names. It classifies every block it
// receives, so a test can compare the whole conversation, power frames
// included, with the one it expects.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <map>
#include <mutex>
#include <ostream>
#include <vector>

#include "auth_reference_crypto.h"
#include "card_line.h"
#include "scripted_reader.h"

namespace card_test {

enum class Step {
    power_up,
    power_down,
    select_file,        // SELECT, CLA 0x00 INS 0xA4
    get_response,       // CLA 0x00 INS 0xC0 P1 P2 0x00 0x00
    select_key_file,    // CLA 0x80 INS 0x28
    key_file_response,  // CLA 0x80 INS 0xC0 P1 P2 0x00 0x00
    get_info,           // CLA 0x80 INS 0xC0 P1 0x02
    read_binary,
    read_record,
    verify,
    update_binary,
    other,
};

inline const char* step_name(Step step) {
    switch (step) {
        case Step::power_up: return "power_up";
        case Step::power_down: return "power_down";
        case Step::select_file: return "select_file";
        case Step::get_response: return "get_response";
        case Step::select_key_file: return "select_key_file";
        case Step::key_file_response: return "key_file_response";
        case Step::get_info: return "get_info";
        case Step::read_binary: return "read_binary";
        case Step::read_record: return "read_record";
        case Step::verify: return "verify";
        case Step::update_binary: return "update_binary";
        case Step::other: return "other";
    }
    return "?";
}

inline std::ostream& operator<<(std::ostream& os, Step step) { return os << step_name(step); }

inline Step step_of(const Bytes& block) {
    if (block.size() < 3) return Step::other;
    if (block[2] == 0x6E) return Step::power_up;
    if (block[2] == 0x4D) return Step::power_down;
    if (block.size() < 8) return Step::other;
    const std::uint8_t cla = block[3], ins = block[4], p1 = block[5], p2 = block[6];
    switch (ins) {
        case 0xA4: return Step::select_file;
        case 0x28: return Step::select_key_file;
        case 0xB0: return Step::read_binary;
        case 0xB2: return Step::read_record;
        case 0x20: return Step::verify;
        case 0xD6: return Step::update_binary;
        case 0xC0:
            if (p1 != 0x00 || p2 != 0x00) return Step::get_info;
            return cla == 0x80 ? Step::key_file_response : Step::get_response;
        default: return Step::other;
    }
}

inline std::vector<Step> steps_of(const std::vector<Bytes>& blocks) {
    std::vector<Step> steps;
    for (const auto& block : blocks) steps.push_back(step_of(block));
    return steps;
}

class ScriptedCard {
public:
    using Block = auth_reference::Block;

    Block key_a{0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF};  // two different halves
    Block key_b{0xFE, 0xDC, 0xBA, 0x98, 0x76, 0x54, 0x32, 0x10};
    Block card_random{0x5A, 0x17, 0xC3, 0x08, 0x9E, 0x61, 0xF4, 0x2B};
    Block serial{0x10, 0x32, 0x54, 0x76, 0x98, 0xBA, 0xDC, 0xFE};
    Block card_data{0x31, 0x41, 0x59, 0x26, 0x53, 0x58, 0x97, 0x93};  // READ BINARY answer
    Block record{0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6, 0xA7};     // READ RECORD answer
    // SW2 of the key-file selection's "0x61 Le": the follow-up must ask for
    // 12 whatever this says.
    std::uint8_t announced_length = 0x05;
    // Answers bytes 0..3 of the check value instead of 4..7.
    bool answer_low_half = false;

    // Refuses (reader status 0x6F) the `occurrence`-th block of this step
    // (from 1) and the `times - 1` after it.
    void refuse(Step step, int occurrence = 1, int times = 1) {
        std::lock_guard lock(mutex_);
        for (int i = 0; i < times; ++i) refused_[{step, occurrence + i}] = true;
    }

    // The challenges of the key-file selections received so far.
    std::vector<Block> challenges() const {
        std::lock_guard lock(mutex_);
        return challenges_;
    }

    // The cryptogram this card answers to challenge.
    std::array<std::uint8_t, 4> cryptogram_for(const Block& challenge) const {
        const auto keys = auth_reference::derive_session_keys(key_a, key_b, card_random);
        const Block check = auth_reference::ede(keys.derived1, keys.derived2, challenge);
        std::array<std::uint8_t, 4> out;
        std::copy_n(check.begin() + (answer_low_half ? 0 : 4), 4, out.begin());
        return out;
    }

    auth_reference::SessionKeys session_keys() const {
        return auth_reference::derive_session_keys(key_a, key_b, card_random);
    }

    // Connects this card to reader: it answers every frame from now on.
    void attach(ScriptedReader& reader) {
        reader.set_responder([this](const Bytes& block) { return answer(block); });
    }

private:
    Reply answer(const Bytes& block) {
        std::lock_guard lock(mutex_);
        const Step step = step_of(block);
        const int occurrence = ++seen_[step];
        if (step == Step::select_key_file) {
            Block challenge{};
            if (block.size() >= 16) std::copy_n(block.begin() + 8, 8, challenge.begin());
            challenges_.push_back(challenge);
            last_challenge_ = challenge;
        }
        if (refused_.count({step, occurrence}) != 0) return refused_reply();
        switch (step) {
            case Step::power_up:
            case Step::power_down:
                return Reply::block(testing_support::reply_block(0x00));
            case Step::select_file:
                return more_data_reply(0x10);
            case Step::select_key_file:
                return more_data_reply(announced_length);
            case Step::key_file_response: {
                std::vector<std::uint8_t> data;
                const auto cryptogram = cryptogram_for(last_challenge_);
                data.insert(data.end(), cryptogram.begin(), cryptogram.end());
                data.insert(data.end(), card_random.begin(), card_random.end());
                return ok_reply(data);
            }
            case Step::get_info:
                return ok_reply({serial.begin(), serial.end()});
            case Step::read_binary:
                return ok_reply({card_data.begin(), card_data.end()});
            case Step::read_record:
                return ok_reply({record.begin(), record.end()});
            case Step::verify:
            case Step::update_binary:
            case Step::get_response:
            case Step::other:
                return ok_reply();
        }
        return ok_reply();
    }

    mutable std::mutex mutex_;
    std::map<Step, int> seen_;
    std::map<std::pair<Step, int>, bool> refused_;
    std::vector<Block> challenges_;
    Block last_challenge_{};
};

}  // namespace card_test
