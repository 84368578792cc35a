#include "protocol/tv540v60upd.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>

#include "platform/codepage.h"
#include "platform/cp1251_literal.h"
#include "protocol/archive_progress.h"
#include "protocol/data_file.h"
#include "protocol/device_dates.h"
#include "protocol/device_number.h"
#include "protocol/protocol_error.h"

namespace protocol {
namespace {

constexpr std::uint8_t kHourTag = 33;
constexpr std::uint8_t kDayTag = 34;
constexpr std::uint8_t kMonthTag = 35;
constexpr std::size_t kData = kRecordHeader;  // data start within a record
constexpr unsigned kHourAnswer = 58;

// Reads the whole file if it is not larger than the dump limit.
bool ReadDumpFile(const std::filesystem::path& path, std::vector<std::uint8_t>& bytes) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    struct stat info {};
    bool ok = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) &&
              static_cast<std::uint64_t>(info.st_size) <= kMaxDumpSize;
    if (ok) {
        bytes.resize(static_cast<std::size_t>(info.st_size));
        std::size_t done = 0;
        while (ok && done < bytes.size()) {
            const ssize_t got = ::read(fd, bytes.data() + done, bytes.size() - done);
            if (got < 0 && errno == EINTR) {
                continue;
            }
            ok = got > 0;
            done += ok ? static_cast<std::size_t>(got) : 0;
        }
    }
    ::close(fd);
    return ok;
}

void ToDeviceNumberAt(const std::uint8_t* source, std::uint8_t* target) {
    float value = 0;
    std::memcpy(&value, source, 4);
    ToDeviceNumber4(value, target);
}

}  // namespace

CTV540v60Upd::CTV540v60Upd()
    : CTV540v60(0, UnconnectedLink(), 3, 50) {}

bool CTV540v60Upd::LoadDump(std::vector<std::uint8_t> bytes) {
    dump_ = std::move(bytes);
    records_.clear();
    hourCursor_ = 0;
    std::size_t at = 0;
    while (at < dump_.size()) {
        if (at + 2 > dump_.size()) {
            return false;
        }
        const std::size_t length = (static_cast<std::size_t>(dump_[at]) << 8) | dump_[at + 1];
        if (length == 0 || at + 2 + length > dump_.size()) {
            return false;  // a record running past the end: the dump is damaged
        }
        records_.push_back({at, length});
        at += 2 + length;
    }
    return true;
}

const CTV540v60Upd::Record* CTV540v60Upd::FindTag(std::uint8_t t0, std::uint8_t t1, std::uint8_t t2,
                                                  std::size_t minLength) const {
    for (const Record& record : records_) {
        const std::uint8_t* bytes = Bytes(record);
        if (record.length >= minLength && record.length >= 6 && bytes[3] == t0 && bytes[4] == t1 &&
            bytes[5] == t2) {
            return &record;
        }
    }
    return nullptr;
}

void CTV540v60Upd::AnswerDayOrMonth(const std::uint8_t* command, unsigned answerLength,
                                    std::uint8_t* answer) const {
    std::memset(answer, 0, answerLength);
    answer[0] = 2;
    const std::size_t minLength = std::max<std::size_t>(answerLength + 4, 12);
    for (const Record& record : records_) {
        const std::uint8_t* bytes = Bytes(record);
        if (record.length < minLength || bytes[3] != command[0]) {
            continue;
        }
        const std::uint8_t* data = bytes + kData;
        if (data[4] != command[2] || data[5] != command[1] ||
            (command[0] == kDayTag && data[3] != command[3])) {
            continue;
        }
        const std::size_t copied =
            record.length == answerLength + 4u ? answerLength - 2 : answerLength - 1;
        answer[0] = 1;
        std::memcpy(answer + 1, data, copied);
        return;
    }
}

void CTV540v60Upd::AnswerHour(bool first, unsigned answerLength, std::uint8_t* answer) {
    std::memset(answer, 0, answerLength);
    answer[0] = 2;
    if (first) {
        hourCursor_ = 0;
    }
    while (hourCursor_ < records_.size()) {
        const Record& record = records_[hourCursor_++];
        const std::uint8_t* r = Bytes(record);
        if (record.length <= 57 || r[3] != kHourTag || r[kData] != 1) {
            continue;
        }
        std::uint8_t built[kHourAnswer] = {1, 0, 0, r[13], r[12], r[11], r[10], r[9]};
        built[15] = r[15];
        built[16] = r[14];
        built[17] = 1;
        built[18] = 0;
        built[19] = 4;
        built[20] = r[58];
        built[21] = r[59];
        built[24] = 3;
        built[25] = 16;
        const int sources[8] = {18, 26, 34, 42, 22, 30, 38, 46};
        for (int i = 0; i < 8; ++i) {
            ToDeviceNumberAt(r + sources[i], built + 26 + 4 * i);
        }
        std::memcpy(answer, built, std::min<unsigned>(answerLength, kHourAnswer));
        return;
    }
}

bool CTV540v60Upd::ExecuteCommand(unsigned commandLength, unsigned answerLength,
                                  const std::uint8_t* command, std::uint8_t* answer, int) {
    if (commandLength < 1 || answerLength < 1 || command == nullptr || answer == nullptr) {
        return false;
    }
    switch (command[0]) {
        case kDayTag:
        case kMonthTag:
            if (commandLength < 5) {
                return false;
            }
            AnswerDayOrMonth(command, answerLength, answer);
            return true;
        case 16:
        case 15:
            AnswerHour(command[0] == 16, answerLength, answer);
            return true;
        default:
            return false;
    }
}

bool CTV540v60Upd::FindClock(DeviceClock& clock, std::vector<std::uint8_t>& clockRecord) const {
    const Record* found = FindTag(230, 0, 54, 11);
    if (found == nullptr) {
        return false;
    }
    const std::uint8_t* data = Bytes(*found) + kData;
    int values[6] = {data[0], data[1], data[2], data[3], data[4], 0};
    if (values[4] < 1 || values[4] > 12) {
        return false;
    }
    if (found->length >= 12) {
        values[5] = data[5];
    } else {
        // The year is taken from the first archive record of that month.
        bool yearFound = false;
        for (const Record& record : records_) {
            const std::uint8_t* r = Bytes(record);
            const bool archive =
                (r[3] == kMonthTag && r[kData] == 3) || (r[3] == kDayTag && r[kData] == 2);
            if (record.length >= 12 && archive && r[kData + 4] == values[4]) {
                values[5] = r[kData + 5];
                yearFound = true;
                break;
            }
        }
        if (!yearFound) {
            return false;
        }
    }
    clockRecord.assign(Bytes(*found), Bytes(*found) + kData);
    clockRecord[0] = 0;
    clockRecord[1] = 12;
    for (int i = 0; i < 6; ++i) {
        clock.bcd[i] = ToBcd(values[i]);
        clockRecord.push_back(clock.bcd[i]);
    }
    clock.second = values[0];
    clock.minute = values[1];
    clock.hour = values[2];
    clock.day = values[3];
    clock.month = values[4];
    clock.year = values[5];
    return true;
}

bool CTV540v60Upd::WriteConverted(DataFile& file, const platform::IniFile& settings) {
    DeviceClock clock;
    std::vector<std::uint8_t> clockRecord;
    if (!FindClock(clock, clockRecord)) {
        return false;  // without its date no day or month of the dump can be placed
    }
    SelectTextEncoding(settings, 60, W1251("Чтение данных из УПД"));
    auto copy = [&](const Record* record) {
        if (record != nullptr && !file.Write(std::span(Bytes(*record), record->length + 2))) {
            throw ProtocolError(W1251("Ошибка при записи в файл данных."));
        }
    };
    auto writeBytes = [&](const std::vector<std::uint8_t>& bytes) {
        if (!file.Write(bytes)) {
            throw ProtocolError(W1251("Ошибка при записи в файл данных."));
        }
    };
    copy(FindTag(255, 0, 53));
    writeBytes(clockRecord);
    copy(FindTag(230, 0, 57));
    if (const Record* text = FindTag(230, 0, 58)) {
        std::vector<std::uint8_t> record(Bytes(*text), Bytes(*text) + text->length + 2);
        if (textIsWindows) {
            const std::string oem = platform::Cp1251ToCp866(std::string_view(
                reinterpret_cast<const char*>(record.data() + kData), record.size() - kData));
            std::memcpy(record.data() + kData, oem.data(), oem.size());
        }
        writeBytes(record);
    }
    copy(FindTag(230, 0, 61));
    for (std::uint8_t subgroup : {1, 2}) {
        const Record* numbers = FindTag(230, subgroup, 61);
        if (numbers == nullptr) {
            continue;
        }
        std::vector<std::uint8_t> record(Bytes(*numbers), Bytes(*numbers) + numbers->length + 2);
        for (std::size_t at = kData; at + 4 <= record.size(); at += 4) {
            ToDeviceNumberAt(record.data() + at, record.data() + at);
        }
        writeBytes(record);
    }
    SilentProgress progress;
    ReadHourArchive(file, progress);
    ReadDailyArchive(file, progress, clock);
    ReadMonthlyArchive(file, progress, clock);
    copy(FindTag(255, 1, 53));
    return true;
}

bool CTV540v60Upd::ConvertDump(const std::filesystem::path& dumpFile,
                               const platform::IniFile& settings) {
    std::vector<std::uint8_t> bytes;
    if (!ReadDumpFile(dumpFile, bytes) || !LoadDump(std::move(bytes))) {
        return false;
    }
    const Record* version = FindTag(230, 0, 61, 21);
    if (version == nullptr || Bytes(*version)[kData + 14] != 60) {
        return true;  // not a version-60 dump: it stays as it is
    }
    // The converted file replaces the dump only when it is complete, so a failure leaves the
    // dump as it came from the device.
    const std::filesystem::path converted =
        dumpFile.string() + ".conv" + std::to_string(::getpid());
    bool ok = false;
    {
        std::unique_ptr<DataFile> file = DataFile::Create(converted);
        if (!file) {
            return false;
        }
        try {
            ok = WriteConverted(*file, settings);
        } catch (const ProtocolError&) {
            ok = false;
        }
        ok = file->Close() && ok;
    }
    std::error_code error;
    if (ok) {
        std::filesystem::rename(converted, dumpFile, error);
        ok = !error;
    }
    if (!ok) {
        std::filesystem::remove(converted, error);
    }
    return ok;
}

}  // namespace protocol
