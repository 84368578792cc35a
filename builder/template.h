// The report template language (docs/templates.md): output lines with fields, and the
// directives @period, @cycle, @rows, @pipes and @end.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace builder {

// How a field is written: [<|>|^][width][.precision], all optional.
struct FieldFormat {
    char align = 0;  // 0: numbers right, texts left
    int width = 0;
    std::optional<int> precision;
};

struct Segment {
    std::string text;  // literal text (Windows-1251), or the field's name
    bool isField = false;
    FieldFormat format;
};

enum class RowKind { kDays, kHours, kMonths };
enum class PeriodKind {
    kNone,
    kDay,
    kMonth,
    kPreviousMonth,
    kReportMonth,
    kYear,
    kCycle,
    kThirdDecade,          // days 21..31 of the take month, as eleven rows
    kPreviousThirdDecade,  // the same of the month before
};

struct Node {
    enum class Kind { kLine, kRows, kPipes } kind = Kind::kLine;
    std::vector<Segment> segments;  // kLine
    RowKind rows = RowKind::kDays;  // kRows
    int pipes = 0;                  // kPipes: the block is written only for this pipeline count
    std::vector<Node> body;         // kRows, kPipes
};

struct Template {
    PeriodKind period = PeriodKind::kNone;
    int cycleCount = 0;  // "@cycle N,S": N slots after slot S of the two-month day scale
    int cycleSkip = 0;
    std::vector<Node> nodes;
};

// Parses a template (Windows-1251 text, CR LF or LF); throws InputError naming the line.
Template ParseTemplate(std::string_view text);

// True when `name` is a field the builder knows.
bool IsKnownField(std::string_view name);

}  // namespace builder
