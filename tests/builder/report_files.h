// Hand-made data files and builder runs for the builder's tests.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "builder/command.h"
#include "platform/codepage.h"
#include "protocol/device_number.h"

namespace buildertest {

using Bytes = std::vector<std::uint8_t>;

// Records as the readers write them: length high byte first, tag length 5, tag, data.
class DataFileMaker {
  public:
    DataFileMaker& Record(std::array<std::uint8_t, 5> tag, const Bytes& data) {
        const std::size_t length = data.size() + 6;
        bytes.push_back(static_cast<std::uint8_t>(length >> 8));
        bytes.push_back(static_cast<std::uint8_t>(length));
        bytes.push_back(5);
        bytes.insert(bytes.end(), tag.begin(), tag.end());
        bytes.insert(bytes.end(), data.begin(), data.end());
        return *this;
    }
    DataFileMaker& Start() { return Record({0xFF, 0, 0x35, 0x41, 0}, Text()); }
    DataFileMaker& Stop() { return Record({0xFF, 1, 0x35, 0x41, 0}, Text()); }
    // BCD clock: second, minute, hour, day, month, year.
    DataFileMaker& Clock(std::uint8_t day, std::uint8_t month, std::uint8_t year) {
        return Record({0xE6, 0, 0x36, 0x11, 0}, {0, 0, 0x12, day, month, year});
    }
    // A version-60 channel of 62 daily (0x0B) or 24 monthly (0x0C) values.
    DataFileMaker& Channel(std::uint8_t kind, std::uint8_t pipe, std::uint8_t quantity,
                           const std::vector<double>& values) {
        Bytes data((kind == 0x0B ? 62 : 24) * 8, 0);
        for (std::size_t i = 0; i < values.size(); ++i) {
            protocol::ToDeviceNumber8(values[i], &data[8 * i]);
        }
        return Record({kind, pipe, quantity, 0x29, 0}, data);
    }
    void Save(const std::filesystem::path& path) const {
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
    }
    Bytes bytes;

  private:
    static Bytes Text() {
        return {0x30, 0x30, 0x35, 0x2D, 0x30, 0x30, 0x31, 0x2D, 0x30, 0x30, 0x31};
    }
};

inline std::string ReadText(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteText(const std::filesystem::path& path, const std::string& text) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

struct Run {
    int exitCode = 0;
    std::vector<std::string> lines;  // UTF-8, without line ends
    std::string utf8;                // the whole report
    std::string err;
};

// A report (code page 866, CR LF) as UTF-8 lines.
inline std::vector<std::string> ReportLines(const std::string& utf8) {
    std::vector<std::string> lines;
    std::istringstream in(utf8);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        lines.push_back(line);
    }
    return lines;
}

inline std::string ReportText(const std::filesystem::path& path) {
    return platform::Cp1251ToUtf8(platform::Cp866ToCp1251(ReadText(path)));
}

// The reason a report explains instead of its table: the text in the framed cell of line 2.
inline std::string Reason(const Run& run) {
    const std::string& cell = run.lines.size() > 2 ? run.lines[2] : std::string();
    return cell.size() > 4 && cell.starts_with("| ") && cell.ends_with(" |")
               ? cell.substr(2, cell.size() - 4)
               : "(no reason) " + run.utf8;
}

// Runs the builder in `folder` and reads its output back.
inline Run RunIn(const std::filesystem::path& folder, const std::vector<std::string>& args,
                 const std::string& output) {
    Run run;
    std::ostringstream err;
    run.exitCode = builder::RunBuilder(args, folder, err);
    run.err = err.str();
    run.utf8 = ReportText(folder / output);
    run.lines = ReportLines(run.utf8);
    return run;
}

}  // namespace buildertest
