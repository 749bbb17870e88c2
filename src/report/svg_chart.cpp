// Stacked bar charts drawn as inline SVG.
#include "report/svg_chart.h"

#include <cmath>
#include <cstdio>
#include <iterator>

#include "report/html_text.h"

namespace {

constexpr double kWidth = 480, kHeight = 200;
constexpr double kLeft = 48, kRight = 8, kTop = 12, kBottom = 30;
constexpr const char* kPalette[] = {"#4e79a7", "#e15759", "#f28e2b", "#76b7b2",
                                    "#59a14f", "#edc948", "#b07aa1"};

double Clean(double value) { return std::isfinite(value) && value > 0 ? value : 0; }

// The smallest 1, 2 or 5 times a power of ten that is at least value / 4.
double AxisStep(double maximum) {
  if (maximum <= 0) return 1;
  const double raw = maximum / 4;
  const double power = std::pow(10.0, std::floor(std::log10(raw)));
  for (double factor : {1.0, 2.0, 5.0, 10.0}) {
    if (factor * power >= raw) return factor * power;
  }
  return 10 * power;
}

void AppendFormat(std::string* out, const char* format, double a, double b, double c,
                  double d) {
  char buffer[160];
  snprintf(buffer, sizeof buffer, format, a, b, c, d);
  out->append(buffer);
}

}  // namespace

std::string FormatChartNumber(double value) {
  char buffer[32];
  const double magnitude = std::fabs(value);
  if (magnitude >= 1e9) {
    snprintf(buffer, sizeof buffer, "%.3gG", value / 1e9);
  } else if (magnitude >= 1e6) {
    snprintf(buffer, sizeof buffer, "%.3gM", value / 1e6);
  } else if (magnitude >= 1e4) {
    snprintf(buffer, sizeof buffer, "%.3gk", value / 1e3);
  } else {
    snprintf(buffer, sizeof buffer, "%.6g", value);
  }
  // The decimal mark is a point whatever the locale.
  for (char* c = buffer; *c; ++c) {
    if (*c == ',') *c = '.';
  }
  return buffer;
}

void AppendBarChart(std::string* out, const BarChart& chart) {
  const size_t bars = chart.categories.size();
  double maximum = 0;
  for (size_t i = 0; i < bars; ++i) {
    double sum = 0;
    for (const auto& row : chart.values) sum += i < row.size() ? Clean(row[i]) : 0;
    if (sum > maximum) maximum = sum;
  }
  const double step = AxisStep(maximum);
  const double top = maximum > 0 ? std::ceil(maximum / step) * step : step * 4;
  const double plotWidth = kWidth - kLeft - kRight, plotHeight = kHeight - kTop - kBottom;
  const double slot = bars > 0 ? plotWidth / static_cast<double>(bars) : plotWidth;
  const double barWidth = slot * 0.8;

  out->append("<figure class=\"chart\"><figcaption>");
  AppendHtmlText(out, chart.title);
  out->append("</figcaption>");
  AppendFormat(out,
               "<svg xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 %.0f %.0f\" "
               "width=\"%.0f\" height=\"%.0f\" role=\"img\">",
               kWidth, kHeight, kWidth, kHeight);
  // Grid lines with their values.
  for (double v = 0; v <= top + step / 2; v += step) {
    const double y = kTop + plotHeight - v / top * plotHeight;
    AppendFormat(out, "<line class=\"grid\" x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\"/>",
                 kLeft, y, kWidth - kRight, y);
    AppendFormat(out, "<text class=\"axis\" x=\"%.1f\" y=\"%.1f\" text-anchor=\"end\">", kLeft - 4,
                 y + 4, 0, 0);
    out->append(FormatChartNumber(v)).append("</text>");
  }
  // Label every bar when they fit, else every second or third.
  const size_t labelEvery = bars <= 16 ? 1 : (bars <= 32 ? 2 : 3);
  for (size_t i = 0; i < bars; ++i) {
    const double x = kLeft + slot * static_cast<double>(i) + (slot - barWidth) / 2;
    double base = kTop + plotHeight;
    for (size_t s = 0; s < chart.values.size(); ++s) {
      const double value = i < chart.values[s].size() ? Clean(chart.values[s][i]) : 0;
      if (value <= 0) continue;
      const double height = value / top * plotHeight;
      base -= height;
      AppendFormat(out, "<rect x=\"%.1f\" y=\"%.1f\" width=\"%.1f\" height=\"%.1f\" ", x, base,
                   barWidth, height);
      out->append("fill=\"").append(kPalette[s % std::size(kPalette)]).append("\"><title>");
      AppendHtmlText(out, chart.categories[i]);
      out->append(" ");
      AppendHtmlText(out, s < chart.series.size() ? chart.series[s] : std::string());
      out->append(": ").append(FormatChartNumber(value)).append("</title></rect>");
    }
    if (i % labelEvery == 0) {
      AppendFormat(out, "<text class=\"axis\" x=\"%.1f\" y=\"%.1f\" text-anchor=\"middle\">",
                   x + barWidth / 2, kHeight - kBottom + 16, 0, 0);
      AppendHtmlText(out, chart.categories[i]);
      out->append("</text>");
    }
  }
  AppendFormat(out, "<line class=\"axisline\" x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\"/>",
               kLeft, kTop + plotHeight, kWidth - kRight, kTop + plotHeight);
  out->append("</svg><div class=\"legend\">");
  for (size_t s = 0; s < chart.series.size(); ++s) {
    out->append("<span><i style=\"background:").append(kPalette[s % std::size(kPalette)]);
    out->append("\"></i>");
    AppendHtmlText(out, chart.series[s]);
    out->append("</span>");
  }
  out->append("</div></figure>\n");
}
