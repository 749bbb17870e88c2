// Stacked bar charts as inline SVG.
#pragma once

#include <string>
#include <vector>

struct BarChart {
  std::string title;                    // plain text (escaped when drawn)
  std::vector<std::string> categories;  // x-axis labels, one per bar
  std::vector<std::string> series;      // names of the stacked parts
  std::vector<std::vector<double>> values;  // [series][category], >= 0
};

// Appends an <svg> element of the chart with one stacked bar per category,
// a y axis with rounded steps, a <title> tooltip per bar part and a legend.
// Negative or non-finite values are drawn as 0.
void AppendBarChart(std::string* out, const BarChart& chart);

// Short form of a number for axis labels and tooltips ("1.5k", "12", "0.25").
std::string FormatChartNumber(double value);
