#include "result_meanings.h"

#include <array>
#include <span>

namespace orvel::tool {

namespace {

struct Meaning {
    int code;
    std::string_view text;
};

struct FunctionMeanings {
    std::string_view function;
    std::span<const Meaning> meanings;
};

// Phrases shared by the two-phase commands.
constexpr std::string_view kSendFailed = "sending the command block failed";
constexpr std::string_view kReplyFailed = "the reply was missing or refused by the reader";
constexpr std::string_view kFollowUpSendFailed = "sending the GET RESPONSE follow-up failed";
constexpr std::string_view kFollowUpReplyFailed = "the follow-up's reply was missing or refused by the reader";

constexpr Meaning kComOpen[] = {
    {1, "port opened and configured"},
    {0, "the device did not open, or a configuration call failed"},
    {-1, "the device refused the line settings"},
    {-99, "the port was already open"},
};
constexpr Meaning kComClose[] = {{1, "port closed"}};
constexpr Meaning kPowerOn[] = {
    {0, "card powered up"},
    {1, "sending the power-up block failed"},
    {2, "the reader's reply was missing or refused"},
    {3, "the reader answered with a status other than 00"},
};
constexpr Meaning kPowerOff[] = {
    {0, "card powered down"},
    {1, "sending the power-down block failed"},
    {2, "the reader's reply was missing or refused"},
    {3, "the reader answered with a status other than 00"},
};
constexpr Meaning kSendFrame[] = {{0, "frame written"}, {1, "the frame was not written completely"}};
constexpr Meaning kRcvFrame[] = {
    {0, "reply accepted"},
    {1, "no complete reply arrived"},
    {2, "the reply was refused by the reader-status rule"},
};
constexpr Meaning kGetInfo[] = {{0, "information read"}, {1, kSendFailed}, {2, kReplyFailed}};
constexpr Meaning kTwoPhase[] = {
    {0, "both exchanges accepted"}, {1, kSendFailed}, {2, kReplyFailed}, {3, kFollowUpSendFailed}, {4, kFollowUpReplyFailed},
};
constexpr Meaning kSelFil[] = {
    {0, "file selected"}, {1, kSendFailed}, {2, kReplyFailed}, {3, kFollowUpSendFailed}, {4, kFollowUpReplyFailed},
};
constexpr Meaning kRead[] = {
    {0, "data read"}, {1, "sending the read command failed"}, {2, kReplyFailed},
};
constexpr Meaning kWriteTwoPhase[] = {
    {0, "written with a MAC; the card's response MAC matched"},
    {1, "sending the write failed; card powered off"},
    {2, "the reply was missing or refused; card powered off"},
    {3, "sending the GET RESPONSE follow-up failed; card still powered"},
    {4, "the follow-up's reply was missing or refused; card still powered"},
    {5, "the card's response MAC does not match the computed MAC"},
};
constexpr Meaning kWriteOnePhase[] = {
    {0, "written"},
    {1, "sending the write failed; card powered off"},
    {2, "the reply was missing or refused; card powered off"},
};
constexpr Meaning kRdBal[] = {
    {0, "balance read"},
    {1, "sending the command failed; card powered off"},
    {2, "the reply was missing or refused; card powered off"},
    {3, "sending the GET RESPONSE follow-up failed; card still powered"},
    {4, "the follow-up's reply was missing or refused; card still powered"},
};
constexpr Meaning kSelPK[] = {
    {0, "purse selected"}, {1, kSendFailed}, {2, kReplyFailed}, {3, kFollowUpSendFailed}, {4, kFollowUpReplyFailed},
};
constexpr Meaning kCredit[] = {
    {0, "credit accepted by the reader"},
    {1, "sending the credit failed; card powered off"},
    {2, "the reply was missing or refused (the card may have acted); card powered off"},
};
constexpr Meaning kDebit[] = {
    {0, "both exchanges accepted (readerStatus 00: the card agreed, E7: it refused)"},
    {1, "sending the debit failed; card powered off"},
    {2, "the reply was missing or refused (the card may have acted); card powered off"},
    {3, "sending the GET RESPONSE follow-up failed; card still powered"},
    {4, "the follow-up's reply was missing or refused; card still powered"},
    {5, "the amount is outside 0 to FFFFFF; nothing was sent"},
};
constexpr Meaning kUpdatePurseValue[] = {
    {0, "purse-value record written"},
    {1, "selecting the file failed; card left powered"},
    {2, "writing the record failed; card powered off"},
};
constexpr Meaning kSelFK[] = {
    {0, "key file selected"}, {1, kSendFailed}, {2, kReplyFailed}, {3, kFollowUpSendFailed}, {4, kFollowUpReplyFailed},
};
constexpr Meaning kAuth[] = {
    {0, "the card's cryptogram matched; session keys derived"},
    {1, "the key-file selection failed"},
    {2, "the card's cryptogram does not match these keys"},
};
constexpr Meaning kInfoFile[] = {
    {0, "card powered up, 3F01 selected and authenticated"},
    {1, "powering the card up failed"},
    {2, "selecting 3F01 failed; card powered off"},
    {3, "authentication failed (key-file selection or cryptogram); card powered off"},
};
constexpr Meaning kVerify[] = {
    {0, "the reader accepted the reply (the card's verdict is in SW1 SW2)"},
    {1, "sending VERIFY failed; card powered off"},
    {2, "the reply was missing or refused; card powered off"},
};
constexpr Meaning kBCardRead[] = {
    {0, "record read"},
    {1, "powering up or the first read failed"},
    {2, "presenting the code failed; card powered off"},
    {3, "reading the record failed; card powered off"},
};
constexpr Meaning kMakeSysKey[] = {
    {0, "system key derived; card powered off"},
    {1, "powering the card up failed"},
    {2, "reading the serial number failed; card powered off"},
};
constexpr Meaning kChangeKey[] = {
    {0, "both key records written; card powered off"},
    {1, "powering the card up failed"},
    {2, "reading the serial number or authenticating with the present key failed"},
    {3, "writing the first key record failed; the key is unchanged"},
    {4, "writing the second key record failed after the first was written"},
};
constexpr Meaning kCreate[] = {
    {0, "file created; the card's response MAC matched"}, {1, kSendFailed}, {2, kReplyFailed},
    {3, kFollowUpSendFailed}, {4, kFollowUpReplyFailed}, {5, "the card's response MAC does not match"},
};

constexpr FunctionMeanings kTable[] = {
    {"COM_Open", kComOpen},
    {"COM_Close", kComClose},
    {"Gcr400PowerOn", kPowerOn},
    {"Gcr400PowerOff", kPowerOff},
    {"OrvelSendFrame", kSendFrame},
    {"OrvelRcvFrame", kRcvFrame},
    {"OrvelGetInfo", kGetInfo},
    {"OrvelSelFil", kSelFil},
    {"OrvelSetStatus", kTwoPhase},
    {"OrvelSwrPrt", kTwoPhase},
    {"OrvelRdBin", kRead},
    {"OrvelRdRec", kRead},
    {"OrvelUpdBin", kWriteTwoPhase},
    {"OrvelWrBin", kWriteTwoPhase},
    {"OrvelUpdBinPurse", kWriteOnePhase},
    {"OrvelWrBinPurse", kWriteOnePhase},
    {"OrvelWriteEFKey", kWriteOnePhase},
    {"OrvelCreate", kCreate},
    {"OrvelSelPK", kSelPK},
    {"OrvelRdBal", kRdBal},
    {"OrvelCredit", kCredit},
    {"OrvelDebit", kDebit},
    {"OrvelUpdatePurseValue", kUpdatePurseValue},
    {"OrvelSelFK", kSelFK},
    {"OrvelAuth", kAuth},
    {"OrvelInfoFile", kInfoFile},
    {"OrvelVerify", kVerify},
    {"OrvelBCardRead", kBCardRead},
    {"OrvelMakeSysKey", kMakeSysKey},
    {"OrvelChangeKey", kChangeKey},
};

}  // namespace

std::string result_meaning(std::string_view function, int code) {
    for (const auto& entry : kTable) {
        if (entry.function != function) continue;
        for (const auto& meaning : entry.meanings) {
            if (meaning.code == code) return std::string(meaning.text);
        }
        return "a result code " + std::string(function) + " does not use";
    }
    return "result of an unknown function";
}

int success_code(std::string_view function) { return function == "COM_Open" || function == "COM_Close" ? 1 : 0; }

}  // namespace orvel::tool
