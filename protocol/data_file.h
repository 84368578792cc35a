// The data file: a flat sequence of tagged records that the report builder reads.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>
#include <vector>

namespace protocol {

// An output data file held open for writing, not shared with other writers.
class DataFile {
  public:
    // Creates the file anew (truncating an existing one); nullptr on failure, errno set.
    static std::unique_ptr<DataFile> Create(const std::filesystem::path& path);
    ~DataFile();
    DataFile(const DataFile&) = delete;
    DataFile& operator=(const DataFile&) = delete;

    // Appends all bytes; false on any failure.
    bool Write(std::span<const std::uint8_t> bytes);
    bool Close();
    const std::filesystem::path& Path() const { return path_; }

  private:
    DataFile(int fd, std::filesystem::path path);
    int fd_;
    std::filesystem::path path_;
};

inline constexpr std::size_t kRecordHeader = 8;  // length (2), tag length (1), tag (5)

// `buffer` holds the tag at offset 3 and the data at offset 8; fills the length field
// (dataLength + 6) and the tag-length byte, then writes dataLength + 8 bytes.
// Raises "Ошибка при записи в файл данных." when the write fails.
void AppendRecord(DataFile& file, std::size_t dataLength, std::uint8_t* buffer);

using StandardRecord = std::array<std::uint8_t, 19>;
StandardRecord StartRecord();
StandardRecord StopRecord();
// 18 bytes: length 16 and 16 zero bytes; a version-60 file has it before the stop record.
std::array<std::uint8_t, 18> FillerRecord();

// An hourly record: tag 09, counter (high, low), 00, the answer's status byte; then
// `dataBytes` answer bytes after the status and a checksum of everything before it.
std::vector<std::uint8_t> HourRecord(unsigned counter, const std::uint8_t* answer,
                                     std::size_t dataBytes);

void WriteStartRecord(DataFile& file);
void WriteStopRecord(DataFile& file);

}  // namespace protocol
