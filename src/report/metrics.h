// The newest day's totals of a metadata folder as OpenMetrics text, for the
// textfile collector of a monitoring agent.
#pragma once

#include <string>

#include "report/report_page.h"

// Writes the totals of every type present in day (its summary lines and the
// web filter's category counts) as gauges named varno_*, one label set per
// type and direction, ended by "# EOF". Volumes are taken as the files hold
// them, which is bytes unless the metadata run used --units.
void RenderMetrics(const ReportDay& day, std::string* text);
