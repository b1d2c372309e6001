// A plot of a data file: pH, sensor temperature and supply voltage against
// time, drawn by gnuplot.
#pragma once

#include "tools/varve-host/data_file.h"

#include <string>

namespace varvehost {

// Draws `t` into `out` (".png" or ".svg", chosen by the name) of
// width x height pixels.
Status plot_table(const Table& t, const std::string& title, const std::string& out, unsigned width,
                  unsigned height);

} // namespace varvehost
