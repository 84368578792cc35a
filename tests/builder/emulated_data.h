// A data file read by the real reader from an emulated version-60 device, the shipped
// templates, and the readings of report tables.
#pragma once

#include <cctype>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "emulators/hc_device.h"
#include "platform/ini_file.h"
#include "protocol/archive_progress.h"
#include "protocol/data_file.h"
#include "protocol/tv540v60.h"
#include "protocol/utv540.h"
#include "tests/builder/report_files.h"
#include "tests/support/direct_modem.h"

namespace buildertest {

class QuietProgress : public protocol::ArchiveProgress {
  public:
    bool Report(std::string_view, int, int) override { return false; }
};

// The numbers of a table row between its '|'; "---" reads as NaN.
inline std::vector<double> Cells(const std::string& row) {
    std::vector<double> cells;
    std::size_t at = row.find('|');
    while (at != std::string::npos) {
        const std::size_t next = row.find('|', at + 1);
        if (next == std::string::npos) {
            break;
        }
        const std::string cell = row.substr(at + 1, next - at - 1);
        std::istringstream in(cell);
        for (std::string word; in >> word;) {
            char* end = nullptr;
            const double value = std::strtod(word.c_str(), &end);
            cells.push_back(*end == '\0' ? value : NAN);  // "---", "Итого"
        }
        at = next;
    }
    return cells;
}

// A report table: its day rows (a line "|  " and a digit) and its "|Итого" row, as numbers.
struct TableNumbers {
    std::vector<std::vector<double>> rows;
    std::vector<double> totals;
};

inline TableNumbers ReadTable(const std::vector<std::string>& lines) {
    TableNumbers table;
    for (const std::string& line : lines) {
        if (line.starts_with("|Итого")) {
            table.totals = Cells(line);
        } else if (line.size() > 3 && line.starts_with("|  ") &&
                   std::isdigit(static_cast<unsigned char>(line[3]))) {
            table.rows.push_back(Cells(line));
        }
    }
    return table;
}

// `printed` is `expected` written with `decimals` digits after the point.
inline void ExpectPrinted(double printed, double expected, int decimals, const std::string& what) {
    const double unit = std::pow(10.0, -decimals);
    EXPECT_LE(std::fabs(printed - expected), 0.5 * unit + 1e-6 * std::fabs(expected))
        << what << ": printed " << printed << ", expected " << expected;
}

// Writes `folder`/hc/dat1hc as the workstation's reading of the device would, with the text
// encoding that `settings` (calvix.ini) gives the device.
inline void ReadEmulatedVersion60(const emulators::HcConfig& config,
                                  const std::filesystem::path& folder,
                                  const platform::IniFile& settings = {}) {
    emulators::HcDevice device(config);
    testsupport::DirectModem modem(device);
    auto link = testsupport::DirectLink<protocol::CTV540v60>(modem);
    std::filesystem::create_directories(folder / "hc" / "txt");
    auto file = protocol::DataFile::Create(folder / "hc" / "dat1hc");
    QuietProgress progress;
    link->ReadVersion60(*file, true, progress, settings, false);
}

// Writes `folder`/hc/dat1hc with the device's hourly archive only, as a parameter-list reading
// of a device without a built-in reading stores it.
inline void ReadEmulatedHours(const emulators::HcConfig& config,
                              const std::filesystem::path& folder) {
    emulators::HcDevice device(config);
    testsupport::DirectModem modem(device);
    auto link = testsupport::DirectLink<protocol::CTV540>(modem);
    std::filesystem::create_directories(folder / "hc" / "txt");
    auto file = protocol::DataFile::Create(folder / "hc" / "dat1hc");
    QuietProgress progress;
    protocol::WriteStartRecord(*file);
    link->ReadHourArchive(*file, progress);
    protocol::WriteStopRecord(*file);
}

// Writes `folder`/hc/dat2hc as the workstation's reading of the 180-day archive would.
inline void ReadEmulated180Days(const emulators::HcConfig& config,
                                const std::filesystem::path& folder) {
    emulators::HcDevice device(config);
    testsupport::DirectModem modem(device);
    auto link = testsupport::DirectLink<protocol::CTV540>(modem);
    std::filesystem::create_directories(folder / "hc" / "txt");
    auto file = protocol::DataFile::Create(folder / "hc" / "dat2hc");
    QuietProgress progress;
    ASSERT_TRUE(link->Read180DayArchive(*file, progress));
}

inline void CopyShippedTemplates(const std::filesystem::path& folder) {
    std::filesystem::create_directories(folder / "sbl");
    for (const auto& entry : std::filesystem::directory_iterator(
             std::filesystem::path(CALVIX_SOURCE_DIR) / "site" / "sbl")) {
        std::filesystem::copy_file(entry.path(), folder / "sbl" / entry.path().filename());
    }
}

}  // namespace buildertest
