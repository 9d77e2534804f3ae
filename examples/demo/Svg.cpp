#include "Svg.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <sstream>

namespace demo {

namespace {

// Plot area inside a fixed canvas.
constexpr double kWidth = 800, kHeight = 420;
constexpr double kLeft = 70, kRight = 20, kTop = 40, kBottom = 50;
constexpr double kPlotW = kWidth - kLeft - kRight, kPlotH = kHeight - kTop - kBottom;

std::string Escape(const std::string& s) {
    std::string out;
    for (char c : s) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

std::string Num(double v) {
    char b[32];
    std::snprintf(b, sizeof b, "%.1f", v);
    return b;
}

// A step of 1, 2 or 5 times a power of ten giving about six ticks.
double TickStep(double span) {
    const double raw = span / 6;
    const double p = std::pow(10, std::floor(std::log10(raw)));
    for (double m : {1.0, 2.0, 5.0})
        if (m * p >= raw) return m * p;
    return 10 * p;
}

std::string Label(double v) {
    char b[32];
    std::snprintf(b, sizeof b, "%g", std::fabs(v) < 1e-12 ? 0.0 : v);
    return b;
}

double X(const Axis& a, double v) { return kLeft + (v - a.lo) / (a.hi - a.lo) * kPlotW; }
double Y(const Axis& a, double v) { return kTop + kPlotH - (v - a.lo) / (a.hi - a.lo) * kPlotH; }

void Frame(std::ostringstream& o, const std::string& title, const Axis& x, const Axis& y) {
    o << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << kWidth << "\" height=\"" << kHeight
      << "\" viewBox=\"0 0 " << kWidth << ' ' << kHeight << "\" font-family=\"sans-serif\" font-size=\"12\">\n"
      << "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n"
      << "<text x=\"" << kWidth / 2 << "\" y=\"24\" text-anchor=\"middle\" font-size=\"15\">" << Escape(title)
      << "</text>\n";
    for (int pass = 0; pass < 2; ++pass) {
        const Axis& a = pass == 0 ? x : y;
        const double step = TickStep(a.hi - a.lo);
        for (double v = std::ceil(a.lo / step) * step; v <= a.hi + step * 1e-9; v += step) {
            if (pass == 0)
                o << "<line x1=\"" << Num(X(a, v)) << "\" y1=\"" << kTop << "\" x2=\"" << Num(X(a, v)) << "\" y2=\""
                  << kTop + kPlotH << "\" stroke=\"#ddd\"/><text x=\"" << Num(X(a, v)) << "\" y=\""
                  << kTop + kPlotH + 16 << "\" text-anchor=\"middle\">" << Label(v) << "</text>\n";
            else
                o << "<line x1=\"" << kLeft << "\" y1=\"" << Num(Y(a, v)) << "\" x2=\"" << kLeft + kPlotW << "\" y2=\""
                  << Num(Y(a, v)) << "\" stroke=\"#ddd\"/><text x=\"" << kLeft - 6 << "\" y=\"" << Num(Y(a, v) + 4)
                  << "\" text-anchor=\"end\">" << Label(v) << "</text>\n";
        }
    }
    o << "<text x=\"" << kLeft + kPlotW / 2 << "\" y=\"" << kHeight - 10 << "\" text-anchor=\"middle\">"
      << Escape(x.label) << "</text>\n"
      << "<text transform=\"translate(16 " << kTop + kPlotH / 2 << ") rotate(-90)\" text-anchor=\"middle\">"
      << Escape(y.label) << "</text>\n";
}

bool Write(const std::string& path, const std::string& text) {
    FILE* f = std::fopen(path.c_str(), "w");
    if (!f) return false;
    bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
    return std::fclose(f) == 0 && ok;
}

// From dark blue through red to pale yellow, t in 0 .. 1.
std::string Colour(double t) {
    t = std::clamp(t, 0.0, 1.0);
    const double r = std::clamp(1.6 * t, 0.0, 1.0), g = std::clamp(1.6 * t - 0.6, 0.0, 1.0);
    const double b = std::clamp(0.45 - 0.9 * std::fabs(t - 0.25), 0.0, 1.0) + std::clamp(2.5 * t - 1.5, 0.0, 1.0);
    char s[8];
    std::snprintf(s, sizeof s, "#%02x%02x%02x", static_cast<int>(r * 255), static_cast<int>(g * 255),
                  static_cast<int>(std::min(b, 1.0) * 255));
    return s;
}

}  // namespace

bool WriteLinePlot(const std::string& path, const std::string& title, const Axis& x, const Axis& y,
                   const std::vector<Series>& series) {
    std::ostringstream o;
    Frame(o, title, x, y);
    o << "<clipPath id=\"plot\"><rect x=\"" << kLeft << "\" y=\"" << kTop << "\" width=\"" << kPlotW << "\" height=\""
      << kPlotH << "\"/></clipPath>\n";
    for (const Series& s : series) {
        o << "<polyline clip-path=\"url(#plot)\" fill=\"none\" stroke=\"" << s.colour << "\" stroke-width=\"" << s.width
          << "\" points=\"";
        for (size_t i = 0; i < s.x.size() && i < s.y.size(); ++i) {
            const double yv =
                std::isfinite(s.y[i]) ? std::clamp(s.y[i], y.lo - (y.hi - y.lo), y.hi + (y.hi - y.lo)) : y.lo;
            o << Num(X(x, s.x[i])) << ',' << Num(Y(y, yv)) << ' ';
        }
        o << "\"/>\n";
    }
    o << "<rect x=\"" << kLeft << "\" y=\"" << kTop << "\" width=\"" << kPlotW << "\" height=\"" << kPlotH
      << "\" fill=\"none\" stroke=\"black\"/>\n</svg>\n";
    return Write(path, o.str());
}

bool WriteHeatMap(const std::string& path, const std::string& title, const Axis& x, const Axis& y, const Axis& z,
                  const std::vector<std::vector<double>>& cells) {
    std::ostringstream o;
    Frame(o, title, x, y);
    const size_t cols = cells.size(), rows = cols ? cells[0].size() : 0;
    const double cw = kPlotW / std::max<size_t>(cols, 1), rh = kPlotH / std::max<size_t>(rows, 1);
    constexpr int kLevels = 32;  // runs of one level in a column share one rectangle
    auto level = [&](double v) {
        const double t = std::isfinite(v) ? (v - z.lo) / (z.hi - z.lo) : 0.0;
        return std::clamp(static_cast<int>(t * kLevels), 0, kLevels - 1);
    };
    o << "<g shape-rendering=\"crispEdges\">\n";
    for (size_t c = 0; c < cols; ++c) {
        for (size_t r = 0; r < rows;) {
            const int l = level(cells[c][r]);
            size_t end = r + 1;
            while (end < rows && level(cells[c][end]) == l) ++end;
            o << "<rect x=\"" << Num(kLeft + c * cw) << "\" y=\"" << Num(kTop + kPlotH - end * rh) << "\" width=\""
              << Num(cw + 0.6) << "\" height=\"" << Num((end - r) * rh + 0.6) << "\" fill=\""
              << Colour((l + 0.5) / kLevels) << "\"/>\n";
            r = end;
        }
    }
    o << "</g>\n<rect x=\"" << kLeft << "\" y=\"" << kTop << "\" width=\"" << kPlotW << "\" height=\"" << kPlotH
      << "\" fill=\"none\" stroke=\"black\"/>\n";
    // Colour key along the right edge of the title line.
    for (int l = 0; l < kLevels; ++l)
        o << "<rect x=\"" << kWidth - kRight - 160 + l * 5 << "\" y=\"10\" width=\"5\" height=\"10\" fill=\""
          << Colour((l + 0.5) / kLevels) << "\"/>";
    o << "\n<text x=\"" << kWidth - kRight - 160 << "\" y=\"34\">" << Label(z.lo) << " .. " << Label(z.hi) << ' '
      << Escape(z.label) << "</text>\n</svg>\n";
    return Write(path, o.str());
}

}  // namespace demo
