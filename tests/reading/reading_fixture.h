// Runs the real reading worker in a scratch working folder and collects what it reports.
#pragma once

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <mutex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/cp1251_literal.h"
#include "protocol/archive_progress.h"
#include "protocol/data_file.h"
#include "protocol/tv540v60.h"
#include "reading/data_file_patch.h"
#include "reading/ureadhc.h"
#include "tests/support/direct_modem.h"
#include "tests/support/scratch_folder.h"

namespace readingtest {

using Bytes = std::vector<std::uint8_t>;
namespace fs = std::filesystem;

inline const std::string kPrefix(W1251("Ошибка при чтении архивов из тепловычислителя.\r\n"));
inline std::string Prefixed(std::string_view text) {
    return kPrefix + std::string(text);
}
inline const std::string kStopped(W1251("Чтение архивов из тепловычислителя прервано."));
inline const std::string kListReading(W1251("Считываются данные из тепловычислителя"));
inline const std::string kDays(W1251("Считываются суточные архивы"));

// Element 15 of the general settings holds the firmware version.
inline const std::vector<std::string> kVersionList = {"302/101/0/30/15=45,53,60"};

struct Outcome {
    int calls = 0;
    bool succeeded = false;
    std::string text;
};

inline Bytes FileBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteText(const fs::path& path, const std::vector<std::string>& lines) {
    std::ofstream out(path, std::ios::binary);
    for (const std::string& line : lines) {
        out << line << "\r\n";
    }
}

struct Record {
    Bytes tag;
    Bytes whole;
};

// The records of a data file; the walk must end exactly at the end of the file.
inline std::vector<Record> Records(const Bytes& file) {
    std::vector<Record> records;
    std::size_t at = 0;
    while (at + 2 <= file.size()) {
        const std::size_t length = (std::size_t{file[at]} << 8) | file[at + 1];
        if (length < 6 || at + 2 + length > file.size()) {
            break;
        }
        const auto begin = file.begin() + static_cast<std::ptrdiff_t>(at);
        records.push_back({Bytes(begin + 3, begin + 8),
                           Bytes(begin, begin + 2 + static_cast<std::ptrdiff_t>(length))});
        at += 2 + length;
    }
    EXPECT_EQ(at, file.size()) << "the records do not fill the file";
    return records;
}

inline const Bytes kClockTag = {0xE6, 0x00, 0x36, 0x11, 0x00};

// Same records in the same order; the clock record's seconds may differ between two readings.
inline void ExpectSameRecords(const Bytes& actual, const Bytes& expected) {
    const std::vector<Record> a = Records(actual);
    const std::vector<Record> e = Records(expected);
    ASSERT_EQ(a.size(), e.size());
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (e[i].tag == kClockTag) {
            EXPECT_EQ(a[i].tag, kClockTag) << "record " << i;
            EXPECT_EQ(a[i].whole.size(), e[i].whole.size()) << "record " << i;
        } else {
            EXPECT_EQ(a[i].whole, e[i].whole) << "record " << i;
        }
    }
}

// What the protocol object itself writes for a twin of the device, with the hourly marks the
// worker sets afterwards.
inline Bytes DirectVersion60(const emulators::HcConfig& config, bool hourly, bool onlyPeriod) {
    emulators::HcDevice twin(config);
    testsupport::DirectModem modem(twin);
    auto device = testsupport::DirectLink<protocol::CTV540v60>(modem);
    testsupport::ScratchFolder folder;
    const fs::path path = folder.Path() / "twin";
    {
        auto file = protocol::DataFile::Create(path);
        protocol::SilentProgress progress;
        device->ReadVersion60(*file, hourly, progress, {}, onlyPeriod);
    }
    Bytes bytes = FileBytes(path);
    reading::PatchHourRecords(bytes);
    return bytes;
}

// One reading: settings for a direct port, short waits, callbacks that record everything.
class Reading {
  public:
    Reading() {
        fs::create_directories(folder_.Path() / "hc");
        settings.portName = "COM5";
        settings.abonent = 1;
        settings.baudRate = 38400;
        settings.versionList = kVersionList;
        environment.workFolder = folder_.Path();
        environment.timings.lineRetryPause = std::chrono::milliseconds(20);
        environment.timings.resyncWait = std::chrono::milliseconds(10);
        environment.timings.listStatusPoll = std::chrono::milliseconds(20);
        environment.timings.mailboxPoll = std::chrono::milliseconds(20);
        environment.timings.commandPause = std::chrono::milliseconds(0);
    }

    const fs::path& Folder() const { return folder_.Path(); }
    fs::path DataFile() const { return folder_.Path() / "hc" / "dat1hc"; }
    fs::path DeepFile() const { return folder_.Path() / "hc" / "dat2hc"; }

    // Starts the worker and waits for its end (callbacks run on the worker's thread).
    Outcome Run() {
        reading::ReadCallbacks callbacks;
        callbacks.progress = [this](const reading::ReadProgress& progress) {
            std::lock_guard lock(mutex_);
            if (!progress.statusText.empty()) {
                statusTexts.push_back(progress.statusText);
            }
            timeTexts.push_back(progress.timeText);
            if (dropWhen && dropWhen(progress)) {
                dropSeen_ = true;
                ended_.notify_all();
            }
            return stopWhen && stopWhen(progress);
        };
        callbacks.chooseParameterList = [this](char version) {
            std::lock_guard lock(mutex_);
            versions.push_back(version);
            return listName;
        };
        callbacks.exchangeActivity = [this](bool ok) {
            std::lock_guard lock(mutex_);
            ++(ok ? goodExchanges : badExchanges);
        };
        callbacks.finished = [this](bool succeeded, const std::string& text) {
            std::lock_guard lock(mutex_);
            ++outcome_.calls;
            outcome_.succeeded = succeeded;
            outcome_.text = text;
            ended_.notify_all();
        };
        workers::WorkerThread worker =
            reading::CThreadReadHCArchive::Start(settings, std::move(callbacks), environment);
        {
            std::unique_lock lock(mutex_);
            EXPECT_TRUE(ended_.wait_for(lock, std::chrono::minutes(3), [this] {
                return outcome_.calls > 0 || dropSeen_;
            })) << "the reading never ended";
        }
        // Dropping the handle of a running worker cancels it and waits for it.
        worker = workers::WorkerThread();
        std::lock_guard lock(mutex_);
        return outcome_;
    }

    reading::ReadSettings settings;
    reading::ReadEnvironment environment;
    std::string listName;
    // Answers the progress calls: true asks to stop.
    std::function<bool(const reading::ReadProgress&)> stopWhen;
    // When it answers true the test drops the worker's handle.
    std::function<bool(const reading::ReadProgress&)> dropWhen;

    std::vector<std::string> statusTexts;
    std::vector<std::string> timeTexts;
    std::vector<char> versions;
    int goodExchanges = 0;
    int badExchanges = 0;

  private:
    testsupport::ScratchFolder folder_;
    std::mutex mutex_;
    std::condition_variable ended_;
    Outcome outcome_;
    bool dropSeen_ = false;
};

}  // namespace readingtest
