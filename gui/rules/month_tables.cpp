#include "gui/rules/month_tables.h"

#include "platform/cp1251_literal.h"

namespace calvix {
namespace {

constexpr std::array<std::string_view, 12> kLowerNominative{
    W1251("январь"),   W1251("февраль"), W1251("март"),   W1251("апрель"),
    W1251("май"),      W1251("июнь"),    W1251("июль"),   W1251("август"),
    W1251("сентябрь"), W1251("октябрь"), W1251("ноябрь"), W1251("декабрь"),
};
constexpr std::array<std::string_view, 12> kUpperNominative{
    W1251("ЯНВАРЬ"),   W1251("ФЕВРАЛЬ"), W1251("МАРТ"),   W1251("АПРЕЛЬ"),
    W1251("МАЙ"),      W1251("ИЮНЬ"),    W1251("ИЮЛЬ"),   W1251("АВГУСТ"),
    W1251("СЕНТЯБРЬ"), W1251("ОКТЯБРЬ"), W1251("НОЯБРЬ"), W1251("ДЕКАБРЬ"),
};
constexpr std::array<std::string_view, 12> kLowerGenitive{
    W1251("января"),   W1251("февраля"), W1251("марта"),  W1251("апреля"),
    W1251("мая"),      W1251("июня"),    W1251("июля"),   W1251("августа"),
    W1251("сентября"), W1251("октября"), W1251("ноября"), W1251("декабря"),
};
constexpr std::array<std::string_view, 12> kUpperGenitive{
    W1251("ЯНВАРЯ"),   W1251("ФЕВРАЛЯ"), W1251("МАРТА"),  W1251("АПРЕЛЯ"),
    W1251("МАЯ"),      W1251("ИЮНЯ"),    W1251("ИЮЛЯ"),   W1251("АВГУСТА"),
    W1251("СЕНТЯБРЯ"), W1251("ОКТЯБРЯ"), W1251("НОЯБРЯ"), W1251("ДЕКАБРЯ"),
};

const std::array<std::string_view, 12>& Table(MonthForm form) {
    switch (form) {
        case MonthForm::LowerNominative:
            return kLowerNominative;
        case MonthForm::UpperNominative:
            return kUpperNominative;
        case MonthForm::LowerGenitive:
            return kLowerGenitive;
        case MonthForm::UpperGenitive:
            break;
    }
    return kUpperGenitive;
}

}  // namespace

std::string_view MonthName(MonthForm form, int month) {
    if (month < 1 || month > 12) {
        return {};
    }
    return Table(form)[static_cast<std::size_t>(month - 1)];
}

CalendarDate PreviousMonth(CalendarDate date) {
    if (date.month <= 1) {
        return {date.year - 1, 12, 1};
    }
    return {date.year, date.month - 1, 1};
}

}  // namespace calvix
