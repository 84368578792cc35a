#include "protocol/data_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <iterator>

#include "platform/cp1251_literal.h"
#include "protocol/protocol_error.h"

namespace protocol {

std::unique_ptr<DataFile> DataFile::Create(const std::filesystem::path& path) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        return nullptr;
    }
    // Lock before truncating, so a file another writer holds is left alone.
    struct stat info {};
    const bool regular = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0 || (regular && ::ftruncate(fd, 0) != 0)) {
        int saved = errno;
        ::close(fd);
        errno = saved == EWOULDBLOCK ? EBUSY : saved;
        return nullptr;
    }
    return std::unique_ptr<DataFile>(new DataFile(fd, path));
}

DataFile::DataFile(int fd, std::filesystem::path path) : fd_(fd), path_(std::move(path)) {}

DataFile::~DataFile() {
    Close();
}

bool DataFile::Write(std::span<const std::uint8_t> bytes) {
    if (fd_ < 0) {
        return false;
    }
    std::size_t written = 0;
    while (written < bytes.size()) {
        ssize_t n = ::write(fd_, bytes.data() + written, bytes.size() - written);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        written += static_cast<std::size_t>(n);
    }
    return true;
}

bool DataFile::Close() {
    if (fd_ < 0) {
        return true;
    }
    int fd = fd_;
    fd_ = -1;
    return ::close(fd) == 0;
}

void AppendRecord(DataFile& file, std::size_t dataLength, std::uint8_t* buffer) {
    const std::size_t length = dataLength + 6;
    buffer[0] = static_cast<std::uint8_t>(length >> 8);
    buffer[1] = static_cast<std::uint8_t>(length & 0xFF);
    buffer[2] = 5;
    if (length > 0xFFFF || !file.Write(std::span(buffer, dataLength + kRecordHeader))) {
        throw ProtocolError(W1251("Ошибка при записи в файл данных."));
    }
}

namespace {

StandardRecord MarkRecord(std::uint8_t kind) {
    return {0x00, 0x11, 0x05, 0xFF, kind, 0x35, 0x41, 0x00, 0x30, 0x30,
            0x35, 0x2D, 0x30, 0x30, 0x31, 0x2D, 0x30, 0x30, 0x31};
}

void WriteOrRaise(DataFile& file, std::span<const std::uint8_t> bytes) {
    if (!file.Write(bytes)) {
        throw ProtocolError(W1251("Ошибка при записи в файл данных."));
    }
}

}  // namespace

StandardRecord StartRecord() {
    return MarkRecord(0x00);
}
StandardRecord StopRecord() {
    return MarkRecord(0x01);
}

std::array<std::uint8_t, 18> FillerRecord() {
    std::array<std::uint8_t, 18> record{};
    record[1] = 16;
    return record;
}

std::vector<std::uint8_t> HourRecord(unsigned counter, const std::uint8_t* answer,
                                     std::size_t dataBytes) {
    const std::size_t length = dataBytes + 7;
    const std::uint8_t head[] = {static_cast<std::uint8_t>(length >> 8),
                                 static_cast<std::uint8_t>(length & 0xFF),
                                 5,
                                 0x09,
                                 static_cast<std::uint8_t>(counter >> 8),
                                 static_cast<std::uint8_t>(counter & 0xFF),
                                 0x00,
                                 answer[0]};
    std::vector<std::uint8_t> record;
    record.reserve(sizeof head + dataBytes + 1);
    record.insert(record.end(), std::begin(head), std::end(head));
    record.insert(record.end(), answer + 1, answer + 1 + dataBytes);
    unsigned sum = 0;
    for (std::uint8_t byte : record) {
        sum += byte;
    }
    record.push_back(static_cast<std::uint8_t>(sum));
    return record;
}

void WriteStartRecord(DataFile& file) {
    WriteOrRaise(file, StartRecord());
}
void WriteStopRecord(DataFile& file) {
    WriteOrRaise(file, StopRecord());
}

}  // namespace protocol
