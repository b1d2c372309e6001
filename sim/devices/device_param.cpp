#include "sim/devices/device_param.h"

#include "platform/host/sim_core.h"
#include "sim/devices/board_services.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>

namespace sim {

namespace {

std::string range_text(double lo, double hi)
{
    char text[80];
    std::snprintf(text, sizeof text, "from %g to %g", lo, hi);
    return text;
}

} // namespace

Status param_number(const std::map<std::string, std::string>& params, const std::string& key, double lo,
                    double hi, double* out)
{
    auto it = params.find(key);
    if (it == params.end()) {
        return {};
    }
    const char* text = it->second.c_str();
    char* end = nullptr;
    errno = 0;
    const double v = std::strtod(text, &end);
    if (end == text || *end != '\0' || errno != 0 || !std::isfinite(v) || v < lo || v > hi) {
        return Status::failure(key + " needs a number " + range_text(lo, hi) + ", got \"" + it->second +
                               "\"");
    }
    *out = v;
    return {};
}

Status param_count(const std::map<std::string, std::string>& params, const std::string& key, uint64_t lo,
                   uint64_t hi, uint64_t* out)
{
    auto it = params.find(key);
    if (it == params.end()) {
        return {};
    }
    const char* text = it->second.c_str();
    char* end = nullptr;
    errno = 0;
    const unsigned long long v = std::strtoull(text, &end, 10);
    if (end == text || *end != '\0' || errno != 0 || text[0] == '-' || text[0] == '+' || v < lo || v > hi) {
        return Status::failure(key + " needs a whole number from " + std::to_string(lo) + " to " +
                               std::to_string(hi) + ", got \"" + it->second + "\"");
    }
    *out = v;
    return {};
}

double param_number_or(const char* who, const std::string& key, double lo, double hi, double dflt)
{
    double v = dflt;
    if (Status st = param_number(device_params(), key, lo, hi, &v); !st.ok()) {
        log("%s: %s; %g used", who, st.message().c_str(), dflt);
        return dflt;
    }
    return v;
}

uint64_t param_count_or(const char* who, const std::string& key, uint64_t lo, uint64_t hi, uint64_t dflt)
{
    uint64_t v = dflt;
    if (Status st = param_count(device_params(), key, lo, hi, &v); !st.ok()) {
        log("%s: %s; %llu used", who, st.message().c_str(), static_cast<unsigned long long>(dflt));
        return dflt;
    }
    return v;
}

} // namespace sim
