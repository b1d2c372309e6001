// Scripts of the configuration tests: keys typed one second apart.
#pragma once

#include "tests/deployment/deploy_support.h"

#include <initializer_list>
#include <string>

namespace configtest {

// One line per reply, `gap` seconds apart ("\\r" is appended to each).
inline std::string typed(std::initializer_list<std::string> replies, double gap = 1.0)
{
    std::string s;
    for (const std::string& r : replies) {
        s += deploytest::keys(gap, r + "\\r");
    }
    return s;
}

// The text after the last occurrence of `marker` ("" when absent).
inline std::string after_last(const std::string& text, const std::string& marker)
{
    auto p = text.rfind(marker);
    return p == std::string::npos ? std::string() : text.substr(p);
}

} // namespace configtest
