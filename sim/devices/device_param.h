// Run parameters of the device models read as numbers, one way for all of
// them: the whole text must be a finite number within the given range (a
// count: a whole number).  A parameter that is absent keeps the default.
#pragma once

#include "tools/common/status.h"

#include <cstdint>
#include <map>
#include <string>

namespace sim {

using varve::Status;

// A failure, naming the parameter, its range and the text, when the value
// is bad (`*out` then unchanged).
Status param_number(const std::map<std::string, std::string>& params, const std::string& key, double lo,
                    double hi, double* out);
Status param_count(const std::map<std::string, std::string>& params, const std::string& key, uint64_t lo,
                   uint64_t hi, uint64_t* out);

// The same on the run's parameters (device_params()) for a device's boot:
// a bad value is logged ("WHO: ... got "TEXT", DEFAULT used") and the
// default returned.
double param_number_or(const char* who, const std::string& key, double lo, double hi, double dflt);
uint64_t param_count_or(const char* who, const std::string& key, uint64_t lo, uint64_t hi, uint64_t dflt);

} // namespace sim
