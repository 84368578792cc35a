#include "builder/template.h"

#include <algorithm>
#include <cctype>
#include <charconv>

#include "builder/archive.h"
#include "platform/cp1251_literal.h"

namespace builder {

namespace {

class Parser {
  public:
    [[noreturn]] void Fail(std::string_view what) const {
        throw InputError(std::string(W1251("Ошибка в шаблоне, строка ")) +
                         std::to_string(lineNumber_) + ": " + std::string(what));
    }

    Template Parse(std::string_view text) {
        Template result;
        std::vector<std::vector<Node>*> open{&result.nodes};
        std::vector<int> openedAt;
        std::size_t start = 0;
        while (start < text.size()) {
            std::size_t end = text.find('\n', start);
            if (end == std::string_view::npos) {
                end = text.size();
            }
            std::string_view line = text.substr(start, end - start);
            start = end + 1;
            ++lineNumber_;
            if (!line.empty() && line.back() == '\r') {
                line.remove_suffix(1);
            }
            if (line.empty() || line[0] != '@') {
                open.back()->push_back(Node{Node::Kind::kLine, Segments(line), {}, 0, {}});
                continue;
            }
            Directive(line, result, open, openedAt);
        }
        if (open.size() > 1) {
            lineNumber_ = openedAt.back();
            Fail(std::string(W1251("блок не закрыт строкой @end")));
        }
        return result;
    }

  private:
    void Directive(std::string_view line, Template& result, std::vector<std::vector<Node>*>& open,
                   std::vector<int>& openedAt) {
        const std::size_t blank = line.find(' ');
        const std::string_view word =
            line.substr(1, blank == std::string_view::npos ? line.npos : blank - 1);
        std::string_view arg = blank == std::string_view::npos ? "" : line.substr(blank + 1);
        while (!arg.empty() && arg.front() == ' ') {
            arg.remove_prefix(1);
        }
        arg = arg.substr(0, arg.find(' '));
        if (word == "rem") {
            return;
        }
        if (word == "end") {
            if (open.size() == 1) {
                Fail(std::string(W1251("@end без открытого блока")));
            }
            open.pop_back();
            openedAt.pop_back();
            rowsOpen_.pop_back();
            return;
        }
        if (word == "cycle") {
            Cycle(arg, result);
            return;
        }
        if (word == "period") {
            Period(arg, result);
            return;
        }
        Node block;
        if (word == "rows") {
            // An inner block cannot see the outer row: it would only repeat the whole table
            // once per outer row, a report that grows with the square of the period.
            if (std::find(rowsOpen_.begin(), rowsOpen_.end(), true) != rowsOpen_.end()) {
                Fail(std::string(W1251("@rows внутри другого блока @rows")));
            }
            block.kind = Node::Kind::kRows;
            if (arg == "days") {
                block.rows = RowKind::kDays;
            } else if (arg == "hours") {
                block.rows = RowKind::kHours;
            } else if (arg == "months") {
                block.rows = RowKind::kMonths;
            } else {
                Fail(std::string(W1251("@rows ждет days, hours или months")));
            }
        } else if (word == "pipes") {
            block.kind = Node::Kind::kPipes;
            if (arg != "2" && arg != "4") {
                Fail(std::string(W1251("@pipes ждет 2 или 4")));
            }
            block.pipes = arg[0] - '0';
        } else {
            Fail(std::string(W1251("неизвестная директива @")) + std::string(word));
        }
        open.back()->push_back(std::move(block));
        open.push_back(&open.back()->back().body);
        openedAt.push_back(lineNumber_);
        rowsOpen_.push_back(word == "rows");
    }

    void Cycle(std::string_view arg, Template& result) {
        const std::size_t comma = arg.find(',');
        unsigned n = 0, s = 0;
        const auto ok = [](std::string_view digits, unsigned& value) {
            const auto r = std::from_chars(digits.data(), digits.data() + digits.size(), value);
            return !digits.empty() && r.ec == std::errc{} && r.ptr == digits.data() + digits.size();
        };
        if (comma == std::string_view::npos || !ok(arg.substr(0, comma), n) ||
            !ok(arg.substr(comma + 1), s) || n == 0 || n + s > 62) {
            Fail(std::string(W1251("@cycle ждет N,S: N суток после суток S, всего не больше 62")));
        }
        result.period = PeriodKind::kCycle;
        result.cycleCount = static_cast<int>(n);
        result.cycleSkip = static_cast<int>(s);
    }

    void Period(std::string_view arg, Template& result) {
        static constexpr std::pair<std::string_view, PeriodKind> kKinds[] = {
            {"day", PeriodKind::kDay},
            {"month", PeriodKind::kMonth},
            {"prevmonth", PeriodKind::kPreviousMonth},
            {"reportmonth", PeriodKind::kReportMonth},
            {"year", PeriodKind::kYear},
            {"decade3", PeriodKind::kThirdDecade},
            {"prevdecade3", PeriodKind::kPreviousThirdDecade}};
        for (const auto& [name, kind] : kKinds) {
            if (arg == name) {
                result.period = kind;
                return;
            }
        }
        Fail(std::string(W1251(
            "@period ждет day, month, prevmonth, reportmonth, year, decade3 или prevdecade3")));
    }

    FieldFormat Format(std::string_view spec) const {
        FieldFormat f;
        std::size_t i = 0;
        if (i < spec.size() && (spec[i] == '<' || spec[i] == '>' || spec[i] == '^')) {
            f.align = spec[i++];
        }
        auto number = [&](int& out) {
            const std::size_t from = i;
            while (i < spec.size() && std::isdigit(static_cast<unsigned char>(spec[i])) &&
                   i - from < 3) {
                out = out * 10 + (spec[i++] - '0');
            }
            return i > from;
        };
        number(f.width);
        if (i < spec.size() && spec[i] == '.') {
            ++i;
            int precision = 0;
            if (!number(precision) || precision > 9) {
                Fail(std::string(W1251("после точки в формате нужно число знаков")));
            }
            f.precision = precision;
        }
        if (i != spec.size()) {
            Fail(std::string(W1251("неверный формат поля: ")) + std::string(spec));
        }
        return f;
    }

    std::vector<Segment> Segments(std::string_view line) const {
        std::vector<Segment> out;
        std::string literal;
        for (std::size_t i = 0; i < line.size(); ++i) {
            const char c = line[i];
            if ((c == '{' || c == '}') && i + 1 < line.size() && line[i + 1] == c) {
                literal.push_back(c);
                ++i;
            } else if (c == '}') {
                Fail(std::string(W1251("лишняя } (для знака } пишите }})")));
            } else if (c == '{') {
                const std::size_t close = line.find('}', i);
                if (close == std::string_view::npos) {
                    Fail(std::string(W1251("поле не закрыто знаком }")));
                }
                const std::string_view inside = line.substr(i + 1, close - i - 1);
                const std::size_t colon = inside.find(':');
                Segment field{std::string(inside.substr(0, colon)), true, {}};
                if (!IsKnownField(field.text)) {
                    Fail(std::string(W1251("неизвестное поле ")) + field.text);
                }
                if (colon != std::string_view::npos) {
                    field.format = Format(inside.substr(colon + 1));
                }
                if (!literal.empty()) {
                    out.push_back({std::move(literal), false, {}});
                    literal.clear();
                }
                out.push_back(std::move(field));
                i = close;
            } else {
                literal.push_back(c);
            }
        }
        if (!literal.empty() || out.empty()) {
            out.push_back({std::move(literal), false, {}});
        }
        return out;
    }

    int lineNumber_ = 0;
    std::vector<bool> rowsOpen_;  // one per open block: is it a @rows block
};

}  // namespace

Template ParseTemplate(std::string_view text) {
    return Parser().Parse(text);
}

}  // namespace builder
