#include "builder/render.h"

#include <fmt/format.h>

#include <cmath>
#include <limits>
#include <vector>

#include "platform/cp1251_literal.h"

namespace builder {

namespace {

constexpr double kMissing = std::numeric_limits<double>::quiet_NaN();

// One row of a table: a day (possibly a slot of a month that has no such day), a month or an
// hour, with its values when the archive holds them.
struct Row {
    Date date;
    int hour = -1;
    bool exists = true;
    std::optional<Values> values;
};

struct Period {
    std::vector<Row> days;
    bool hourly = false;
    bool yearly = false;
};

std::string DateText(const Date& d) {
    return fmt::format("{:02}.{:02}.{:04}", d.day, d.month, d.year);
}

// Sums, and means weighted by each pipeline's operating time.
std::optional<Values> Aggregate(const std::vector<const Values*>& parts) {
    if (parts.empty()) {
        return std::nullopt;
    }
    Values total;
    std::array<double, kMaxPipelines> weightedT{}, weightedP{};
    for (const Values* v : parts) {
        for (int p = 0; p < kMaxPipelines; ++p) {
            total.heat[p] += v->heat[p];
            total.mass[p] += v->mass[p];
            total.work[p] += v->work[p];
            weightedT[p] += v->temperature[p] * v->work[p];
            weightedP[p] += v->pressure[p] * v->work[p];
        }
        total.on += v->on;
        total.length += v->length;
    }
    for (int p = 0; p < kMaxPipelines; ++p) {
        total.temperature[p] = total.work[p] > 0 ? weightedT[p] / total.work[p] : kMissing;
        total.pressure[p] = total.work[p] > 0 ? weightedP[p] / total.work[p] : kMissing;
    }
    return total;
}

std::optional<Values> Find(const std::map<Date, Values>& map, const Date& date) {
    const auto it = map.find(date);
    return it == map.end() ? std::nullopt : std::optional<Values>(it->second);
}

Row DayRow(const Archive& archive, const Date& date, bool exists) {
    return {date, -1, exists, exists ? Find(archive.days, date) : std::nullopt};
}

Date RequireClock(const Archive& archive) {
    if (!archive.clock || !IsValidDate(*archive.clock)) {
        throw InputError(std::string(W1251("В файле данных нет верной даты съема.")));
    }
    return *archive.clock;
}

Date FirstOfPreviousMonth(const Date& d) {
    return d.month == 1 ? Date{d.year - 1, 12, 1} : Date{d.year, d.month - 1, 1};
}

void AddDays(const Archive& archive, Date from, const Date& to, Period& period) {
    if (to < from) {
        throw InputError(std::string(W1251("Неверный период: конечная дата раньше начальной.")));
    }
    for (int guard = 0; !(to < from) && guard < 800; ++guard, from = NextDay(from)) {
        period.days.push_back(DayRow(archive, from, true));
    }
}

// Slots S + 1 .. S + N of the two-month day scale: day k of the month before the take date
// is slot k, day k of the take month slot k + 31. A slot of a day the month lacks stays.
void AddCycleSlots(const Archive& archive, const Template& report, const Date& clock,
                   Period& period) {
    const Date previous = FirstOfPreviousMonth(clock);
    for (int slot = report.cycleSkip + 1; slot <= report.cycleSkip + report.cycleCount; ++slot) {
        const Date date = slot <= 31 ? Date{previous.year, previous.month, slot}
                                     : Date{clock.year, clock.month, slot - 31};
        period.days.push_back(DayRow(archive, date, IsValidDate(date)));
    }
}

// Eleven rows whatever the month: the correction deletes those it lacks.
void AddThirdDecade(const Archive& archive, const Date& month, Period& period) {
    for (int day = 21; day <= 31; ++day) {
        const Date date{month.year, month.month, day};
        period.days.push_back(DayRow(archive, date, IsValidDate(date)));
    }
}

Period MakePeriod(const Template& report, const Archive& archive, const Request& request) {
    Period period;
    if (request.range) {
        AddDays(archive, request.range->first, request.range->second, period);
        return period;
    }
    if (request.hourlyDate) {
        period.hourly = true;
        period.days.push_back(DayRow(archive, *request.hourlyDate, true));
        return period;
    }
    const Date clock = RequireClock(archive);
    const Date previous = FirstOfPreviousMonth(clock);
    switch (report.period) {
        case PeriodKind::kNone:
            throw InputError(
                std::string(W1251("В шаблоне не указан период: нужна строка @period или @cycle.")));
        case PeriodKind::kCycle:
            AddCycleSlots(archive, report, clock, period);
            break;
        case PeriodKind::kDay:
            AddDays(archive, PreviousDay(clock), PreviousDay(clock), period);
            break;
        case PeriodKind::kMonth:
            AddDays(archive, {clock.year, clock.month, 1},
                    {clock.year, clock.month, DaysInMonth(clock.year, clock.month)}, period);
            break;
        case PeriodKind::kPreviousMonth:
            AddDays(archive, previous,
                    {previous.year, previous.month, DaysInMonth(previous.year, previous.month)},
                    period);
            break;
        case PeriodKind::kReportMonth: {
            const int day =
                archive.reportDay >= 1 && archive.reportDay <= 28 ? archive.reportDay : 1;
            const Date last = day == 1 ? PreviousDay({clock.year, clock.month, 1})
                                       : Date{clock.year, clock.month, day - 1};
            AddDays(archive, {previous.year, previous.month, day}, last, period);
            break;
        }
        case PeriodKind::kThirdDecade:
            AddThirdDecade(archive, {clock.year, clock.month, 1}, period);
            break;
        case PeriodKind::kPreviousThirdDecade:
            AddThirdDecade(archive, previous, period);
            break;
        case PeriodKind::kYear:
            period.yearly = true;
            AddDays(archive, {clock.year, 1, 1}, {clock.year, 12, 31}, period);
            break;
    }
    return period;
}

std::vector<Row> MonthRows(const Archive& archive, const Period& period) {
    std::vector<Row> rows;
    for (const Row& day : period.days) {
        const Date month{day.date.year, day.date.month, 1};
        if (!day.exists || (!rows.empty() && rows.back().date == month)) {
            continue;
        }
        Row row{month, -1, true, Find(archive.months, month)};
        if (!row.values) {
            std::vector<const Values*> parts;
            for (auto it = archive.days.lower_bound(month);
                 it != archive.days.end() && it->first.month == month.month &&
                 it->first.year == month.year;
                 ++it) {
                parts.push_back(&it->second);
            }
            row.values = Aggregate(parts);
        }
        rows.push_back(row);
    }
    return rows;
}

std::vector<Row> HourRows(const Archive& archive, const Period& period) {
    std::vector<Row> rows;
    for (const Row& day : period.days) {
        for (int h = 0; h < 24 && day.exists; ++h) {
            const auto it = archive.hours.find({day.date, h});
            rows.push_back(
                {day.date, h, true,
                 it == archive.hours.end() ? std::nullopt : std::optional<Values>(it->second)});
        }
    }
    return rows;
}

std::vector<Row> RowsOf(RowKind kind, const Archive& archive, const Period& period) {
    switch (kind) {
        case RowKind::kHours:
            return HourRows(archive, period);
        case RowKind::kMonths:
            return MonthRows(archive, period);
        case RowKind::kDays:
            break;
    }
    return period.days;
}

std::string Pad(const std::string& text, char align, int width) {
    switch (align) {
        case '<':
            return fmt::format("{:<{}}", text, width);
        case '^':
            return fmt::format("{:^{}}", text, width);
        default:
            return fmt::format("{:>{}}", text, width);
    }
}

class Writer {
  public:
    Writer(const Archive& archive, const Period& period) : archive_(archive), period_(period) {}

    void Write(const std::vector<Node>& nodes, const Row& context) {
        for (const Node& node : nodes) {
            if (node.kind == Node::Kind::kLine) {
                Line(node.segments, context);
            } else if (node.kind == Node::Kind::kPipes) {
                if (node.pipes == Pipelines()) {
                    Write(node.body, context);
                }
            } else {
                for (const Row& row : RowsOf(node.rows, archive_, period_)) {
                    Write(node.body, row);
                }
            }
        }
    }

    std::string Text() const { return out_; }

  private:
    int Pipelines() const { return archive_.pipelines == 0 ? 2 : archive_.pipelines; }

    void Line(const std::vector<Segment>& segments, const Row& row) {
        for (const Segment& s : segments) {
            out_ += s.isField ? Field(s, row) : s.text;
        }
        out_ += "\r\n";
    }

    std::string Field(const Segment& s, const Row& row) const {
        const std::string& name = s.text;
        if (name == "number" || name == "address") {
            const std::string& text = name == "number" ? archive_.number : archive_.address;
            return Pad(text.empty() ? std::string(W1251("не определен")) : text,
                       s.format.align ? s.format.align : '<', s.format.width);
        }
        if (name == "date" || name == "date2" || name == "tdate") {
            const Date d = name == "date"    ? row.date
                           : name == "date2" ? period_.days.back().date
                                             : archive_.clock.value_or(Date{});
            return Pad(DateText(d), s.format.align ? s.format.align : '<', s.format.width);
        }
        if (name == "hours") {
            return Pad(fmt::format("{:02}-{:02}", row.hour, row.hour + 1), s.format.align,
                       s.format.width);
        }
        const auto [value, precision] = Number(name, row);
        if (name == "dd" || name == "mm" || name == "yy" || name == "dd2" || name == "mm2") {
            return Pad(fmt::format("{:02}", static_cast<int>(value)), s.format.align,
                       s.format.width);
        }
        const int digits = s.format.precision.value_or(precision);
        if (std::isnan(value)) {
            return Pad("---", s.format.align, s.format.width);
        }
        const double shown = std::fabs(value) < 0.5 * std::pow(10.0, -digits) ? 0.0 : value;
        return Pad(fmt::format("{:.{}f}", shown, digits), s.format.align, s.format.width);
    }

    // The value of a numeric field and its default number of decimals.
    std::pair<double, int> Number(const std::string& name, const Row& row) const {
        const Date& end = period_.days.back().date;
        if (name == "day" || name == "dd")
            return {row.date.day, 0};
        if (name == "month" || name == "mm")
            return {row.date.month, 0};
        if (name == "year" || name == "yyyy")
            return {row.date.year, 0};
        if (name == "yy")
            return {row.date.year % 100, 0};
        if (name == "dd2")
            return {end.day, 0};
        if (name == "mm2")
            return {end.month, 0};
        if (name == "yyyy2")
            return {end.year, 0};
        if (name == "hour")
            return {row.hour, 0};
        const Values* v = row.values ? &*row.values : nullptr;
        if (name.size() == 4 && name[0] == 'd') {  // dQ12, dM34: supply minus return
            const double a = Quantity(v, name.substr(1, 2));
            const double b = Quantity(v, std::string{name[1], name[3]});
            return {a - b, name[1] == 'Q' ? 2 : 3};
        }
        static constexpr std::pair<std::string_view, int> kDecimals[] = {
            {"Q", 2}, {"M", 3}, {"T", 1}, {"P", 2}, {"WM", 0}, {"EM", 0}, {"W", 1}, {"E", 1}};
        for (const auto& [prefix, decimals] : kDecimals) {
            if (name.starts_with(prefix)) {
                return {Quantity(v, name), decimals};
            }
        }
        return {kMissing, 0};
    }

    double Quantity(const Values* v, const std::string& name) const {
        if (v == nullptr) {
            return kMissing;
        }
        const bool minutes = name.size() >= 2 && name[1] == 'M';
        const std::string_view digits = std::string_view(name).substr(minutes ? 2 : 1);
        const double scale = minutes ? 60.0 : 1.0;
        if (digits.empty()) {
            return name[0] == 'W' ? v->on * scale : kMissing;  // W, WM: the device's time
        }
        const int p = digits[0] - '1';
        if (p >= Pipelines()) {
            return kMissing;
        }
        switch (name[0]) {
            case 'Q':
                return v->heat[p];
            case 'M':
                return v->mass[p];
            case 'T':
                return v->temperature[p];
            case 'P':
                return v->pressure[p];
            case 'W':
                return v->work[p] * scale;
            default:
                return std::max(0.0, v->length - v->work[p]) * scale;  // E, EM
        }
    }

    const Archive& archive_;
    const Period& period_;
    std::string out_;
};

}  // namespace

bool IsKnownField(std::string_view name) {
    static constexpr std::string_view kPlain[] = {
        "number", "address", "date", "date2", "tdate", "hours", "day", "dd",
        "month",  "mm",      "year", "yyyy",  "yy",    "dd2",   "mm2", "yyyy2",
        "hour",   "W",       "WM",   "dQ12",  "dQ34",  "dM12",  "dM34"};
    for (std::string_view plain : kPlain) {
        if (name == plain) {
            return true;
        }
    }
    for (std::string_view prefix : {"Q", "M", "T", "P", "W", "E", "WM", "EM"}) {
        if (name.size() == prefix.size() + 1 && name.starts_with(prefix) && name.back() >= '1' &&
            name.back() <= '4') {
            return true;
        }
    }
    return false;
}

std::string RenderReport(const Template& report, const Archive& archive, const Request& request) {
    const Period period = MakePeriod(report, archive, request);
    std::vector<const Values*> parts;
    const std::vector<Row> units = period.hourly   ? HourRows(archive, period)
                                   : period.yearly ? MonthRows(archive, period)
                                                   : period.days;
    for (const Row& row : units) {
        if (row.values) {
            parts.push_back(&*row.values);
        }
    }
    if (parts.empty()) {
        throw InputError(period.hourly
                             ? std::string(W1251("Нет часовых записей за ")) +
                                   DateText(period.days.front().date) + "."
                             : std::string(W1251("Нет записей архива за период с ")) +
                                   DateText(period.days.front().date) + std::string(W1251(" по ")) +
                                   DateText(period.days.back().date) + ".");
    }
    Row summary{period.days.front().date, -1, true, Aggregate(parts)};
    Writer writer(archive, period);
    writer.Write(report.nodes, summary);
    return writer.Text();
}

}  // namespace builder
