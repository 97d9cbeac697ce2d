// Win32 serial device names mapped onto tty paths.
#include "device_name.h"

#include <cctype>
#include <charconv>
#include <cstdlib>

namespace tarvex::posix {
namespace {

constexpr std::string_view kVerbatimPrefix = "\\\\?\\";
constexpr std::string_view kDevicePrefix = "\\\\.\\";
constexpr std::string_view kComPrefix = "COM";
constexpr std::string_view kVariablePrefix = "TARVEX_COM";
constexpr std::string_view kDefaultTtyPrefix = "/dev/ttyS";
constexpr std::size_t kMaxDigits = 6;

bool starts_with_ignoring_case(std::string_view s, std::string_view prefix) {
    if (s.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        if (std::toupper(static_cast<unsigned char>(s[i])) != prefix[i]) return false;
    }
    return true;
}

// The n of COMn: decimal, no sign, no leading zeros.
std::optional<unsigned> com_number(std::string_view name) {
    if (name.starts_with(kVerbatimPrefix)) {
        name.remove_prefix(kVerbatimPrefix.size());
    } else if (name.starts_with(kDevicePrefix)) {
        name.remove_prefix(kDevicePrefix.size());
    }
    if (!starts_with_ignoring_case(name, kComPrefix)) return std::nullopt;
    name.remove_prefix(kComPrefix.size());
    if (name.empty() || name.size() > kMaxDigits || (name.size() > 1 && name.front() == '0')) return std::nullopt;
    unsigned n = 0;
    auto [end, ec] = std::from_chars(name.data(), name.data() + name.size(), n);
    if (ec != std::errc{} || end != name.data() + name.size()) return std::nullopt;
    return n;
}

}  // namespace

std::optional<std::string> resolve_device(std::string_view name) {
    const auto n = com_number(name);
    if (!n) return std::nullopt;
    const std::string variable = std::string(kVariablePrefix) + std::to_string(*n);
    if (const char* mapped = std::getenv(variable.c_str()); mapped && *mapped) return std::string(mapped);
    if (*n == 0) return std::nullopt;
    return std::string(kDefaultTtyPrefix) + std::to_string(*n - 1);
}

}  // namespace tarvex::posix
