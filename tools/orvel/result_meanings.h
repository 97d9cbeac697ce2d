// What each library function's result code means, in words, for the output
// of every step.
#pragma once

#include <string>
#include <string_view>

namespace orvel::tool {

// The meaning of `code` as returned by the library function `function`
// (for example "OrvelSelFil"). Codes a function does not use read as such.
std::string result_meaning(std::string_view function, int code);

// The code that means success for `function`: 1 for COM_Open, 0 otherwise.
int success_code(std::string_view function);

}  // namespace orvel::tool
