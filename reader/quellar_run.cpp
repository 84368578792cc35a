#include "reader/quellar_run.h"

#include <fcntl.h>
#include <unistd.h>
#include <algorithm>
#include <array>
#include <cerrno>
#include <filesystem>
#include <memory>

#include "platform/file_io.h"
#include "platform/serial_port.h"
#include "platform/win_path.h"
#include "protocol/data_file.h"
#include "protocol/utv540.h"
#include "reader/param_line.h"
#include "reader/quellar_lines.h"
#include "reader/serial_frame_link.h"

namespace reader {
namespace {

constexpr const char* kUsage =
    "Use: quellar.exe port port_speed use_deep_archives timeout abon_number config_file "
    "output_file";
constexpr std::array<long, 8> kSpeeds = {1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200};
constexpr int kLineAttempts = 4;
constexpr std::uint8_t kFirstHour = 16;
constexpr std::uint8_t kNextHour = 15;
constexpr unsigned kHourAnswer = 92;        // status and 91 bytes
constexpr std::size_t kHourDataBytes = 90;  // what the deep archive keeps of them
constexpr int kMaxHours = 1000;

// A message and its line end ("", "\r" or "\n"), each exactly as the operator's scripts expect.
void Print(std::FILE* out, const char* text, const char* ending) {
    std::fputs(text, out);
    std::fputs(ending, out);
    std::fflush(out);
}

void ConfigurePort(platform::SerialPort& port, long baud, long t,
                   platform::DeviceControl& deviceControl) {
    platform::DeviceControl dcb;
    port.GetCommState(dcb);  // abort-on-error stays as found
    protocol::ApplyLineSettings(dcb, static_cast<std::uint32_t>(baud));
    port.SetCommState(dcb);
    deviceControl = dcb;
    port.SetCommTimeouts(protocol::TimeoutsFromBase(t));
}

// The part of a run that works through the parameter list, once the port is set up.
class LineLoop {
  public:
    LineLoop(FrameLink& link, std::uint8_t abonent, bool deepArchives,
             std::filesystem::path outputPath, const QuellarOptions& options, std::FILE* out)
        : link_(link),
          executor_(link, abonent, options.timing),
          deepPending_(deepArchives),
          outputPath_(std::move(outputPath)),
          options_(options),
          out_(out) {}

    int Run(const std::string& content) {
        QuellarLines lines(content);
        while (!lines.AtEnd()) {
            const ClassifiedLine line = ClassifyLine(lines.Next());
            if (!Execute(line)) {
                return Fail();
            }
        }
        if (output_ && !output_->Close()) {
            return Fail();
        }
        output_.reset();
        Settled();
        return 0;
    }

  private:
    bool Execute(const ClassifiedLine& line) {
        switch (line.kind) {
            case LineKind::Start:
                return Start(line);
            case LineKind::Stop:
                return Stop(line);
            case LineKind::DataField:
            case LineKind::Mailbox:
            case LineKind::Command:
                return DataLine(line);
            case LineKind::Skip:
            case LineKind::Ignored:
                return true;
        }
        return true;
    }

    bool Start(const ClassifiedLine& line) {
        output_.reset();
        output_ = protocol::DataFile::Create(outputPath_);
        if (!output_) {
            Print(out_, "Can't create output file", "\n");
            return false;
        }
        if (!created_ && options_.outputCreated) {
            options_.outputCreated(outputPath_.string());
        }
        created_ = true;
        return Store(MarkRecordFromLine(line));
    }

    bool Stop(const ClassifiedLine& line) {
        if (deepPending_) {
            deepPending_ = false;
            if (!HourArchive()) {
                return false;
            }
        }
        return Store(MarkRecordFromLine(line));
    }

    bool DataLine(const ClassifiedLine& line) {
        for (int attempt = 1; attempt <= kLineAttempts; ++attempt) {
            link_.DiscardInput();
            LineResult result = Attempt(line);
            switch (result.outcome) {
                case LineOutcome::Stored:
                    if (!Store(result.record)) {
                        return false;
                    }
                    Print(out_, "OK", "\n");
                    return true;
                case LineOutcome::Skipped:
                    Print(out_, "OK", "\n");
                    return true;
                case LineOutcome::Nothing:
                    return true;
                case LineOutcome::Hopeless:
                    return false;
                case LineOutcome::Failed:
                    break;
            }
            if (attempt < kLineAttempts) {
                link_.Wait(options_.retryWaitMs);
            }
        }
        return false;
    }

    // The deep archive: hourly records of 90 answer bytes; a failed attempt starts again with
    // the newest hour and appends after the records already written.
    bool HourArchive() {
        for (int attempt = 1; attempt <= kLineAttempts; ++attempt) {
            link_.DiscardInput();
            switch (HourArchiveAttempt()) {
                case LineOutcome::Stored:
                    return true;
                case LineOutcome::Hopeless:
                    return false;
                default:
                    break;
            }
            if (attempt < kLineAttempts) {
                link_.Wait(options_.retryWaitMs);
            }
        }
        return false;
    }

    LineOutcome HourArchiveAttempt() {
        std::uint8_t command = kFirstHour;
        for (int iteration = 0; iteration < kMaxHours; ++iteration) {
            std::vector<std::uint8_t> answer;
            if (!executor_.MailboxCommand(std::span(&command, 1), kHourAnswer - 1, answer)) {
                return LineOutcome::Failed;
            }
            if (answer[0] == 2) {
                return LineOutcome::Stored;
            }
            if (answer[0] != 1) {
                return LineOutcome::Failed;
            }
            if (!Store(protocol::HourRecord(hours_, answer.data(), kHourDataBytes))) {
                return LineOutcome::Hopeless;
            }
            ++hours_;
            Print(out_, "OK", "\n");
            command = kNextHour;
        }
        return LineOutcome::Stored;
    }

    LineResult Attempt(const ClassifiedLine& line) {
        switch (line.kind) {
            case LineKind::DataField:
                return executor_.DataField(line);
            case LineKind::Mailbox:
                return executor_.Mailbox(line);
            default:
                return executor_.Command(line);
        }
    }

    bool Store(const std::vector<std::uint8_t>& bytes) {
        // Records go at the end of the file; a line before the start line has nowhere to go.
        return output_ && output_->Write(bytes);
    }

    int Fail() {
        output_.reset();
        if (created_) {
            std::error_code ignored;
            std::filesystem::remove(outputPath_, ignored);
        }
        Settled();
        return -1;
    }

    void Settled() {
        if (created_ && options_.outputSettled) {
            options_.outputSettled();
        }
    }

    FrameLink& link_;
    LineExecutor executor_;
    bool deepPending_;
    std::filesystem::path outputPath_;
    const QuellarOptions& options_;
    std::FILE* out_;
    std::unique_ptr<protocol::DataFile> output_;
    bool created_ = false;
    unsigned hours_ = 0;  // hourly records written, across attempts
};

}  // namespace

int RunQuellar(const std::vector<std::string>& arguments, const QuellarOptions& options,
               std::FILE* out) {
    if (arguments.size() != 7) {
        Print(out, kUsage, "");
        return 0;
    }
    const long deep = ReadDecimal(arguments[2]);
    if (deep == 1 && arguments[5] == "tv540wi.opr") {
        Print(out, "Can`t read deep archives at TV540WI", "");
        return 0;
    }
    const long portNumber = ReadDecimal(arguments[0]);
    if (portNumber < 1 || portNumber > 8) {
        Print(out, "Wrong port number", "\r");
        return 0;
    }
    if (deep != 0 && deep != 1) {
        return -1;
    }
    const std::string portName = "COM" + std::to_string(portNumber);
    Print(out, portName.c_str(), "\n");
    std::unique_ptr<platform::SerialPort> port = platform::SerialPort::Open(portName);
    if (!port) {
        Print(out, "Can't open port", "");
        return 0;
    }
    const long speed = ReadDecimal(arguments[1]);
    if (std::find(kSpeeds.begin(), kSpeeds.end(), speed) == kSpeeds.end()) {
        port.reset();
        Print(out, "Wrong speed (1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200)", "\n");
        return 0;
    }
    // An address outside the line's range would silently read another device.
    const long abonent = ReadDecimal(arguments[4]);
    if (abonent < 1 || abonent > 255) {
        port.reset();
        Print(out, "Wrong abonent number (1..255)", "\n");
        return 0;
    }
    platform::DeviceControl deviceControl;
    ConfigurePort(*port, speed, ReadDecimal(arguments[3]), deviceControl);

    const std::filesystem::path configPath = platform::ResolvePath(arguments[5]);
    std::error_code error;
    if (!std::filesystem::exists(configPath, error)) {
        Print(out, "Can't open configuration file", "\n");
        return 0;
    }
    std::string content;
    if (!platform::ReadWholeFile(configPath, content)) {
        Print(out, "Can't read configuration file", "\n");
        return -1;
    }

    SerialFrameLink link(*port, deviceControl, out, options.addressPauseMs);
    LineLoop loop(link, static_cast<std::uint8_t>(abonent), deep == 1,
                  platform::ResolvePath(arguments[6]), options, out);
    return loop.Run(content);
}

}  // namespace reader
