// A deployment of a data file as a netCDF-4 file with the CF conventions
// (CF-1.8, one time series), written through the netCDF C library.
#pragma once

#include "tools/varve-host/data_file.h"

#include <string>
#include <vector>

namespace varvehost {

// Writes the rows of deployment `dep` of `t` (quality flag columns "X_qc"
// included) to `path`; `sources` names the input files (global attribute
// "history").  Rows without a time stamp are left out and counted in
// *untimed.  On failure no file is left.
Status write_netcdf(const Table& t, std::size_t dep, const std::string& path, const std::string& sources,
                    std::size_t* written, std::size_t* untimed);

} // namespace varvehost
