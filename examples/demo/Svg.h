// Small SVG pictures for the demo: line plots and a heat map, written with
// nothing but the standard library.
#pragma once

#include <string>
#include <vector>

namespace demo {

struct Axis {
    std::string label;
    double lo, hi;
};

struct Series {
    std::vector<double> x, y;
    std::string colour;
    double width = 1.5;
};

// A plot of the series within the two axes (values outside are clipped).
// False when the file cannot be written.
bool WriteLinePlot(const std::string& path, const std::string& title, const Axis& x, const Axis& y,
                   const std::vector<Series>& series);

// cells[col][row]: values mapped from `z` onto a colour scale; columns run
// along x, rows up along y.
bool WriteHeatMap(const std::string& path, const std::string& title, const Axis& x, const Axis& y, const Axis& z,
                  const std::vector<std::vector<double>>& cells);

}  // namespace demo
