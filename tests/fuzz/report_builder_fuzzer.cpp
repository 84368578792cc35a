// Feeds arbitrary bytes to the report builder: a template, then (after the bytes 00 FF "DAT") a
// data file. Properties: bad input gives the builder's own error and nothing else; the archive
// read from a data file holds only real dates, hours 0..23, two or four pipelines and finite
// values; a report is CR LF text.
#include <cmath>
#include <cstdint>
#include <string>
#include <string_view>

#include "builder/archive.h"
#include "builder/render.h"
#include "builder/template.h"
#include "fuzz_support.h"

namespace {

constexpr std::string_view kDataMark{
    "\x00\xff"
    "DAT",
    5};

bool Finite(const builder::Values& values) {
    for (std::size_t i = 0; i < builder::kMaxPipelines; ++i) {
        if (!std::isfinite(values.heat[i]) || !std::isfinite(values.mass[i]) ||
            !std::isfinite(values.temperature[i]) || !std::isfinite(values.pressure[i]) ||
            !std::isfinite(values.work[i])) {
            return false;
        }
    }
    return std::isfinite(values.on) && std::isfinite(values.length);
}

void CheckArchive(const builder::Archive& archive) {
    fuzz::Check(archive.pipelines == 0 || archive.pipelines == 2 || archive.pipelines == 4,
                "two or four pipelines");
    for (const auto& [date, values] : archive.days) {
        fuzz::Check(builder::IsValidDate(date) && Finite(values), "a day is a real date");
    }
    for (const auto& [date, values] : archive.months) {
        fuzz::Check(builder::IsValidDate(date) && date.day == 1 && Finite(values),
                    "a month is keyed by its first day");
    }
    for (const auto& [key, values] : archive.hours) {
        fuzz::Check(builder::IsValidDate(key.first) && key.second >= 0 && key.second <= 23 &&
                        Finite(values),
                    "an hour is a real date and an hour of the day");
    }
}

builder::Request MakeRequest(std::uint8_t selector, const builder::Archive& archive) {
    builder::Request request;
    const builder::Date day = archive.clock && builder::IsValidDate(*archive.clock)
                                  ? *archive.clock
                                  : builder::Date{2026, 12, 8};
    if (selector % 3 == 1) {
        request.hourlyDate = day;
    } else if (selector % 3 == 2) {
        builder::Date from = day;
        for (int i = 0; i < selector / 3 % 62; ++i) {
            from = builder::PreviousDay(from);
        }
        request.range = {from, day};
    }
    return request;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const std::uint8_t selector = data[0];
    const std::string_view input(reinterpret_cast<const char*>(data) + 1, size - 1);
    const std::size_t mark = input.find(kDataMark);
    const std::string_view templateText = input.substr(0, mark);
    const std::string_view dataFile =
        mark == std::string_view::npos ? std::string_view() : input.substr(mark + kDataMark.size());
    builder::Template report;
    try {
        report = builder::ParseTemplate(templateText);
    } catch (const builder::InputError&) {
        return 0;
    }
    builder::Archive archive;
    try {
        archive = builder::ParseDataFile(dataFile);
    } catch (const builder::InputError&) {
        return 0;
    }
    CheckArchive(archive);
    try {
        const std::string text =
            builder::RenderReport(report, archive, MakeRequest(selector, archive));
        for (std::size_t at = text.find('\n'); at != std::string::npos;
             at = text.find('\n', at + 1)) {
            fuzz::Check(at > 0 && text[at - 1] == '\r', "a report's lines end in CR LF");
        }
    } catch (const builder::InputError&) {
    }
    return 0;
}
