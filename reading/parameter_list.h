// A parameter list as the reading worker runs it: loaded once, then line by line over the
// connection, with three tries per data line.
#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "protocol/archive_progress.h"
#include "protocol/data_file.h"
#include "protocol/utv540.h"

namespace reading {

// The lines of the file with comments (from the first ";") cut off and blank lines dropped.
// Raises "Отсутствует файл конфигурации " + `name` when the file cannot be read.
std::vector<std::string> LoadParameterList(const std::filesystem::path& path,
                                           const std::string& name);

struct ListRun {
    protocol::CTV540& device;  // its link is the connection's
    bool overModem = false;    // a failed try resynchronises the call
    bool readHourly = false;   // the hourly archive before the stop record
    protocol::DataFile& file;
    protocol::ArchiveProgress& progress;  // for the hourly archive
    // Before line i of n; raises when the operator asked to stop.
    std::function<void(int i, int n)> beforeLine;
    // Between the tries of a line; ends early when the reading is cancelled.
    std::function<void()> pauseBeforeRetry;
    std::chrono::milliseconds statusPoll{200};
};

// Runs the lines up to and including the first stop line. Raises the reading's errors
// ("Ошибка связи." when a data line fails its third try).
void RunParameterList(const std::vector<std::string>& lines, ListRun& run);

}  // namespace reading
