// libFuzzer target for the profile reader: any bytes as a file, then one change and a second read.
#include "core/profile/profile_random_check.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    // First byte: which key to change and how; next byte: the value's length; the rest is the file.
    const unsigned char selector = data[0];
    const size_t valueLength = size > 1 ? data[1] % 64 : 0;
    std::string_view rest(reinterpret_cast<const char*>(data) + (size > 1 ? 2 : 1), size > 1 ? size - 2 : 0);
    const std::string_view value = rest.substr(0, valueLength);
    const std::string_view file = rest.substr(value.size());
    const std::string problem = qvtest::CheckProfileChange(file, selector, value);
    if (!problem.empty()) {
        std::fprintf(stderr, "%s\n", problem.c_str());
        std::abort();
    }
    return 0;
}
