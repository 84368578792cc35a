// Writes a report from a template and the archive of a data file.
#pragma once

#include <optional>
#include <string>
#include <utility>

#include "builder/archive.h"
#include "builder/template.h"

namespace builder {

// What the command line fixes: the day of an hourly report, or the explicit dates of the
// 180-day builder. Neither: the template's @period or @cycle line says.
struct Request {
    std::optional<Date> hourlyDate;
    std::optional<std::pair<Date, Date>> range;
};

// The report text in Windows-1251, lines ended by CR LF; throws InputError when the period
// cannot be made out or holds no record.
std::string RenderReport(const Template& report, const Archive& archive, const Request& request);

}  // namespace builder
