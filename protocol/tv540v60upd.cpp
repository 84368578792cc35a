#include "protocol/tv540v60upd.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/codepage.h"
#include "platform/cp1251_literal.h"
#include "platform/file_io.h"
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

constexpr std::size_t kBlock = 16;  // the device hands a dump over in blocks of 16 bytes

// The file a dump's name stands for, open for reading and writing, as the in-place conversion
// needs it.
struct DumpSource {
    std::filesystem::path path;  // through any symbolic links: the file itself
    struct stat info {};
    int fd = -1;
    ~DumpSource() {
        if (fd >= 0) {
            ::close(fd);
        }
    }
};

// Opens the dump for writing and reads it whole. Refuses what is not a regular file, what is
// larger than the limit, what cannot be written, and a file without any write permission even
// where the caller could write it anyway (root): it is read-only.
bool ReadDumpFile(const std::filesystem::path& name, DumpSource& source,
                  std::vector<std::uint8_t>& bytes) {
    std::error_code error;
    source.path = std::filesystem::canonical(name, error);
    if (error) {
        return false;
    }
    source.fd = ::open(source.path.c_str(), O_RDWR | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (source.fd < 0 || ::fstat(source.fd, &source.info) != 0 || !S_ISREG(source.info.st_mode) ||
        (source.info.st_mode & 0222) == 0 ||
        static_cast<std::uint64_t>(source.info.st_size) > kMaxDumpSize ||
        ::flock(source.fd, LOCK_EX | LOCK_NB) != 0) {
        return false;
    }
    bytes.resize(static_cast<std::size_t>(source.info.st_size));
    return platform::ReadExactly(source.fd, bytes.data(), bytes.size());
}

// L of the record at `at`, or 0 where no record can start: fewer than 8 bytes left, a length
// too short for a tag or running past the end, a tag-length byte other than 5.
std::size_t RecordLengthAt(const std::vector<std::uint8_t>& dump, std::size_t at) {
    if (dump.size() - at < kRecordHeader) {
        return 0;
    }
    const std::size_t length = (static_cast<std::size_t>(dump[at]) << 8) | dump[at + 1];
    if (length < 6 || length > dump.size() - at - 2 || dump[at + 2] != 5) {
        return 0;
    }
    return length;
}

// What a device fills its last block with: fewer than 16 bytes, all 00 or all FF. Anything
// else where the records break off is the dump itself, damaged.
bool IsBlockFill(const std::vector<std::uint8_t>& dump, std::size_t from) {
    const std::size_t rest = dump.size() - from;
    if (rest >= kBlock) {
        return false;
    }
    const auto tail = dump.begin() + static_cast<std::ptrdiff_t>(from);
    return std::all_of(tail, dump.end(), [](std::uint8_t b) { return b == 0x00; }) ||
           std::all_of(tail, dump.end(), [](std::uint8_t b) { return b == 0xFF; });
}

// The converted file takes the dump's place with its permissions and, where we may give it
// away (root), its owner.
bool KeepOwnerAndMode(int fd, const struct stat& original) {
    if (original.st_uid != ::geteuid() || original.st_gid != ::getegid()) {
        [[maybe_unused]] const int owned = ::fchown(fd, original.st_uid, original.st_gid);
    }
    return ::fchmod(fd, original.st_mode & 07777) == 0;
}

void ToDeviceNumberAt(const std::uint8_t* source, std::uint8_t* target) {
    float value = 0;
    std::memcpy(&value, source, 4);
    ToDeviceNumber4(value, target);
}

}  // namespace

CTV540v60Upd::CTV540v60Upd() : CTV540v60(0, UnconnectedLink(), 3, 50) {}

bool CTV540v60Upd::LoadDump(std::vector<std::uint8_t> bytes) {
    dump_ = std::move(bytes);
    records_.clear();
    hourCursor_ = 0;
    std::size_t at = 0;
    while (at < dump_.size()) {
        const std::size_t length = RecordLengthAt(dump_, at);
        if (length == 0) {
            break;
        }
        records_.push_back({at, length});
        at += 2 + length;
        const std::uint8_t* tag = dump_.data() + records_.back().offset + 3;
        if (tag[0] == 255 && tag[1] == 1 && tag[2] == 53) {
            return true;  // the stop record: what follows is the fill of the last block
        }
    }
    // Records that break off before the stop record, other than in the fill of the last block,
    // mean a lost block or a damaged file. The record that swallowed a lost block still looks
    // whole and every later one is shifted, so nothing of such a dump can be trusted.
    if (!IsBlockFill(dump_, at)) {
        records_.clear();
    }
    return !records_.empty();
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
    DumpSource source;
    std::vector<std::uint8_t> bytes;
    if (!ReadDumpFile(dumpFile, source, bytes) || !LoadDump(std::move(bytes))) {
        return false;
    }
    const Record* version = FindTag(230, 0, 61, 21);
    if (version == nullptr || Bytes(*version)[kData + 14] != 60) {
        return true;  // not a version-60 dump: it stays as it is
    }
    // The converted file replaces the dump only when it is complete, so a failure leaves the
    // dump as it came from the device. Beside the file itself, so a link stays a link.
    const std::filesystem::path converted =
        source.path.string() + ".conv" + std::to_string(::getpid());
    ::unlink(converted.c_str());  // a leftover of a crashed run; O_EXCL refuses anything else
    const int keeper =
        ::open(converted.c_str(), O_RDONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (keeper < 0) {
        return false;
    }
    bool ok = false;
    {
        std::unique_ptr<DataFile> file = DataFile::Create(converted);
        try {
            ok = file != nullptr && WriteConverted(*file, settings);
        } catch (const std::exception&) {
            ok = false;  // a failed write, or no memory: the dump stays as it was
        }
        ok = file != nullptr && file->Close() && ok;
    }
    ok = ok && KeepOwnerAndMode(keeper, source.info) && ::fsync(keeper) == 0;
    ok = ::close(keeper) == 0 && ok;
    if (!ok || ::rename(converted.c_str(), source.path.c_str()) != 0) {
        ::unlink(converted.c_str());
        return false;
    }
    return true;
}

}  // namespace protocol
