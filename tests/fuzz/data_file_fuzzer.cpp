// Feeds arbitrary bytes as a data file to what inspects one before the reports: the report
// dates' inspection (clock, settings, device number, address) and the hourly-record marks.
// Properties: the inspection agrees with a plain walk of the records held in memory, a take
// date it gives is a real date, the title is built of what it found; the marks change only the
// marked bytes of hourly records, a second pass changes nothing, and the file is patched to the
// same bytes as memory.
#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "gui/rules/report_dates.h"
#include "platform/codepage.h"
#include "platform/cp1251_literal.h"
#include "reading/data_file_patch.h"

namespace {

constexpr calvix::CalendarDate kToday{2026, 12, 8};

int FromBcd(std::uint8_t byte) {
    return (byte >> 4) > 9 || (byte & 0x0F) > 9 ? -1 : (byte >> 4) * 10 + (byte & 0x0F);
}

std::string Text(const std::vector<std::uint8_t>& payload, std::size_t first, std::size_t last) {
    std::string raw;
    for (std::size_t i = first; i <= last && i < payload.size() && payload[i] != 0; ++i) {
        if (payload[i] != 0xFF) {
            raw += static_cast<char>(payload[i]);
        }
    }
    return platform::Cp866LettersToCp1251(raw);
}

struct Expected {
    bool clockSeen = false, settingsSeen = false, numberSeen = false, addressSeen = false;
    calvix::CalendarDate clock{-1, -1, -1};
    int version = 0;
    int reportDay = 0;
    std::string number, address;
};

// Whole records from the start, each kind taken the first time it comes.
Expected WalkInMemory(const std::vector<std::uint8_t>& file) {
    Expected e;
    std::size_t at = 0;
    while (at + 2 <= file.size()) {
        const std::size_t length = (std::size_t{file[at]} << 8) | file[at + 1];
        if (length > file.size() - at - 2) {
            break;
        }
        const std::vector<std::uint8_t> p(file.begin() + at + 2, file.begin() + at + 2 + length);
        at += 2 + length;
        if (length < 4 || p[0] != 5 || p[1] != 0xE6 || p[2] != 0) {
            continue;
        }
        if (p[3] == '6' && !e.clockSeen && length >= 12) {
            e.clockSeen = true;
            e.clock = {FromBcd(p[11]) < 0 ? -1 : FromBcd(p[11]) + 2000, FromBcd(p[10]),
                       FromBcd(p[9])};
        } else if (p[3] == '=' && !e.settingsSeen && length > 20) {
            e.settingsSeen = true;
            e.version = p[20];
            e.reportDay = length > 23 ? p[23] : 0;
        } else if (p[3] == '9' && !e.numberSeen && length > 6) {
            e.numberSeen = true;
            e.number = Text(p, 6, 13);
        } else if (p[3] == ':' && !e.addressSeen && length > 6) {
            e.addressSeen = true;
            e.address = Text(p, 6, 31);
        }
    }
    return e;
}

void CheckInspection(const fuzz::ScratchFile& file, const std::vector<std::uint8_t>& bytes) {
    const calvix::DataFileFacts facts = calvix::InspectDataFile(file.Path(), "TV540W", kToday);
    const Expected e = WalkInMemory(bytes);
    const bool dated = e.clockSeen && calvix::IsValidDate(e.clock);
    fuzz::Check(facts.takeDateValid == dated, "a take date comes from a real clock record");
    const calvix::CalendarDate take = dated ? e.clock : kToday;
    fuzz::Check(facts.dataTakeDate.year == take.year && facts.dataTakeDate.month == take.month &&
                    facts.dataTakeDate.day == take.day,
                "the take date is the clock's, else today");
    fuzz::Check(facts.deviceVersion == e.version && facts.reportDay == e.reportDay &&
                    facts.deepArchiveMode == (e.version == 0x35),
                "the settings are the first settings record's");
    const std::string undefined(W1251("не определен"));
    fuzz::Check(facts.deviceNumber == (e.number.empty() ? undefined : e.number) &&
                    facts.address == (e.address.empty() ? undefined : e.address),
                "the number and address are the first records'");
    fuzz::Check(facts.deviceTitle.size() ==
                    facts.deviceTitle.find(facts.deviceNumber + ", " + facts.address + ", ") +
                        facts.deviceNumber.size() + facts.address.size() + 4,
                "the title ends in the number and the address");
}

void CheckPatch(const fuzz::ScratchFile& file, const std::vector<std::uint8_t>& bytes) {
    std::vector<std::uint8_t> patched = bytes;
    const std::size_t count = reading::PatchHourRecords(patched);
    fuzz::Check(patched.size() == bytes.size(), "the marks keep the file's size");
    fuzz::Check(count <= bytes.size() / 33, "at most one mark per hourly record");
    std::vector<std::uint8_t> twice = patched;
    fuzz::Check(reading::PatchHourRecords(twice) == 0 && twice == patched,
                "a marked file needs no more marks");
    std::size_t changedRecords = 0;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (patched[i] != bytes[i]) {
            // Byte 22 goes from 02 to 01 in every marked record: it names the record.
            const std::size_t body = i >= 22 && bytes[i] == 2 && patched[i] == 1 ? i - 22 : 0;
            changedRecords += body != 0 && bytes[body] == 5 && bytes[body + 1] == 9 ? 1 : 0;
        }
    }
    fuzz::Check(changedRecords <= count, "only marked records change");
    fuzz::Check(reading::PatchHourRecordsInFile(file.Path()), "the file is patched");
    std::ifstream in(file.Path(), std::ios::binary);
    const std::vector<std::uint8_t> onDisk{std::istreambuf_iterator<char>(in),
                                           std::istreambuf_iterator<char>()};
    fuzz::Check(onDisk == patched, "the file is patched to the bytes patched in memory");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const fuzz::ScratchFile file("dat");
    const std::vector<std::uint8_t> bytes(data, data + size);
    file.Write(std::string(bytes.begin(), bytes.end()));
    CheckInspection(file, bytes);
    CheckPatch(file, bytes);
    return 0;
}
