// Feeds arbitrary report text to the correction calvix applies before it shows a report, with
// the dates and state the main window could hold (a real take date, a period inside the
// calendars' limits). Properties: only the correction's own error comes out, and then the lines
// stay as they were; no empty value mark survives; the number helpers keep their bounds and a
// cut value reads back within its last place.
#include <fuzzer/FuzzedDataProvider.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "gui/rules/report_correction.h"
#include "gui/rules/report_dates.h"
#include "gui/rules/report_text.h"
#include "platform/calendar.h"

namespace {

using calvix::CalendarDate;

CalendarDate TakeDate(FuzzedDataProvider& input) {
    const int year = input.ConsumeIntegralInRange(2000, 2099);
    const int month = input.ConsumeIntegralInRange(1, 12);
    return {year, month, input.ConsumeIntegralInRange(1, platform::DaysInMonth(year, month))};
}

int DaysBetween(CalendarDate from, CalendarDate to) {
    int days = 0;
    while (from.year != to.year || from.month != to.month || from.day != to.day) {
        from = calvix::AddDays(from, 1);
        ++days;
    }
    return days;
}

calvix::ReportContext Context(FuzzedDataProvider& input) {
    calvix::ReportContext context;
    context.workState = static_cast<calvix::WorkState>(input.ConsumeIntegralInRange(0, 6));
    context.deepArchiveMode = input.ConsumeBool();
    context.dataTakeDate = TakeDate(input);
    context.reportDay = input.ConsumeIntegral<std::uint8_t>();
    context.deviceVersion = input.ConsumeBool() ? 60 : 53;
    const calvix::CalendarLimits limits =
        calvix::MakeCalendarLimits(context.dataTakeDate, context.deepArchiveMode);
    const int span = DaysBetween(limits.lowest, limits.highest);
    const int first = input.ConsumeIntegralInRange(0, span);
    context.beginDate = calvix::AddDays(limits.lowest, first);
    context.endDate =
        calvix::AddDays(context.beginDate, input.ConsumeIntegralInRange(0, span - first));
    return context;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        end = end == std::string::npos ? text.size() : end;
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        lines.push_back(std::move(line));
        start = end + 1;
    }
    return lines;
}

void CheckNumbers(const std::vector<std::string>& lines, int decimals) {
    namespace rt = calvix::report_text;
    for (const std::string& line : lines) {
        fuzz::Check(calvix::ConvertReportLine(line).find("?0.00?") == std::string::npos,
                    "no empty value mark survives");
        for (rt::DigitRun run = rt::FindDigitRun(line, 0); run;
             run = rt::FindDigitRun(line, run.end())) {
            fuzz::Check(run.end() <= line.size() &&
                            (run.end() == line.size() || !rt::IsDigit(line[run.end()])),
                        "a digit run is whole and inside the line");
            if (const auto value = rt::ReadRun(line, run)) {
                fuzz::Check(*value >= 0, "a run reads as a number");
            }
        }
        const std::optional<double> value = rt::ParseDecimal(line);
        if (!value || std::fabs(*value) > 1e15) {
            continue;
        }
        const std::string cut = rt::FixedCut(*value, decimals);
        const std::optional<double> back = rt::ParseDecimal(cut);
        fuzz::Check(back.has_value(), "a cut value reads back");
        const double place = std::pow(10.0, -decimals);
        fuzz::Check(std::fabs(*back) <= std::fabs(*value) * (1 + 1e-14) + 1e-300 &&
                        std::fabs(*value - *back) <= place * (1 + 1e-9) + std::fabs(*value) * 1e-14,
                    "a cut value loses less than its last place, towards zero");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    const calvix::ReportContext context = Context(input);
    const int decimals = input.ConsumeIntegralInRange(0, 6);
    const std::vector<std::string> original = Lines(input.ConsumeRemainingBytesAsString());
    std::vector<std::string> lines = original;
    try {
        calvix::CorrectReport(lines, context);
    } catch (const calvix::ReportCorrectionError&) {
        fuzz::Check(lines == original, "a report that cannot be corrected stays as it was");
    }
    CheckNumbers(original, decimals);

    calvix::DataFileFacts facts;
    facts.takeDateValid = true;
    facts.dataTakeDate = context.dataTakeDate;
    const calvix::PeriodLabels labels = calvix::MakePeriodLabels(facts);
    if (!original.empty()) {
        const std::string caption = calvix::ApplyPeriodLabels(original.front(), labels);
        fuzz::Check(caption.empty() || static_cast<std::uint8_t>(caption.front()) != 0xFF,
                    "a caption never starts with FFh");
    }
    return 0;
}
