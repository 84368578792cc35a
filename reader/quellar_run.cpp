#include "reader/quellar_run.h"

#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <array>
#include <cerrno>
#include <filesystem>
#include <memory>
#include <optional>

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
constexpr std::uint8_t kHourAt = 12;
constexpr std::uint32_t kMaxTimeoutMs = 60000;
constexpr std::size_t kMaxListBytes = std::size_t{4} << 20;

// A message and its line end ("", "\r" or "\n"), each exactly as the operator's scripts expect.
void Print(std::FILE* out, const char* text, const char* ending) {
    std::fputs(text, out);
    std::fputs(ending, out);
    std::fflush(out);
}

bool ConfigurePort(platform::SerialPort& port, std::uint32_t baud, std::uint32_t t,
                   platform::DeviceControl& deviceControl) {
    platform::DeviceControl dcb;
    if (!port.SwitchesParity() || !port.GetCommState(dcb)) {  // abort-on-error stays as found
        return false;
    }
    protocol::ApplyLineSettings(dcb, baud);
    if (!port.SetCommState(dcb)) {
        return false;
    }
    deviceControl = dcb;
    return port.SetCommTimeouts(protocol::TimeoutsFromBase(t));
}

struct FileIdentity {
    dev_t device = 0;
    ino_t inode = 0;
};

std::optional<FileIdentity> IdentityOf(const std::filesystem::path& path, bool followLink) {
    struct stat info {};
    const int result = followLink ? ::stat(path.c_str(), &info) : ::lstat(path.c_str(), &info);
    if (result != 0 || !S_ISREG(info.st_mode)) {
        return std::nullopt;
    }
    return FileIdentity{info.st_dev, info.st_ino};
}

// Why `path` must not become the output, or nullptr when it may.
const char* OutputRefusal(const std::filesystem::path& path, const FileIdentity& list) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        return nullptr;  // nothing there yet (or nothing reachable: creating it will tell)
    }
    if (!S_ISREG(info.st_mode)) {
        return "Output file is not a regular file";
    }
    if (info.st_dev == list.device && info.st_ino == list.inode) {
        return "Output file is the configuration file";
    }
    return nullptr;
}

// The part of a run that works through the parameter list, once the port is set up.
class LineLoop {
  public:
    LineLoop(FrameLink& link, std::uint8_t abonent, bool deepArchives,
             std::filesystem::path outputPath, FileIdentity list, const QuellarOptions& options,
             std::FILE* out)
        : link_(link),
          executor_(link, abonent, options.timing),
          deepPending_(deepArchives),
          outputPath_(platform::LinkedFile(outputPath)),
          list_(list),
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
        // Refused before the open: a FIFO would block it, and a failure removes what it made.
        if (const char* refusal = OutputRefusal(outputPath_, list_)) {
            Print(out_, refusal, "\n");
            return false;
        }
        output_ = protocol::DataFile::Create(outputPath_);
        if (!output_) {
            Print(out_, "Can't create output file", "\n");
            return false;
        }
        created_ = IdentityOf(outputPath_, false);
        if (created_ && options_.outputCreated) {
            options_.outputCreated(outputPath_.string());
        }
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

    // The deep archive: hourly records of 90 answer bytes. The records of an attempt go into
    // the file when it ends, so an attempt that fails leaves no hours behind and the next one
    // starts again with the newest hour without storing any hour twice.
    bool HourArchive() {
        for (int attempt = 1; attempt <= kLineAttempts; ++attempt) {
            link_.DiscardInput();
            std::vector<std::uint8_t> records;
            if (HourArchiveAttempt(records)) {
                return Store(records);
            }
            if (attempt < kLineAttempts) {
                link_.Wait(options_.retryWaitMs);
            }
        }
        return false;
    }

    // The hourly-archive procedure: an unknown status waits and re-positions at the last stored
    // hour (command 12), an empty archive or its end (status 2) ends it; only an exchange that
    // brings no valid answer fails the attempt.
    bool HourArchiveAttempt(std::vector<std::uint8_t>& records) {
        std::uint8_t command = kFirstHour;
        unsigned stored = 0;
        std::uint8_t last[4] = {};  // year, month, day, hour of the last stored record
        for (unsigned iteration = 0; iteration < options_.hourIterations; ++iteration) {
            const std::uint8_t request[5] = {command, last[0], last[1], last[2], last[3]};
            const std::size_t length = command == kHourAt ? 5 : 1;
            std::vector<std::uint8_t> answer;
            if (!executor_.MailboxCommand(std::span(request, length), kHourAnswer - 1, answer)) {
                return false;
            }
            if (answer[0] == 1) {
                const bool repositioned = command == kHourAt;
                command = kNextHour;
                if (repositioned) {
                    continue;  // this hour is stored already
                }
                const std::vector<std::uint8_t> record =
                    protocol::HourRecord(stored++, answer.data(), kHourDataBytes);
                records.insert(records.end(), record.begin(), record.end());
                std::copy(answer.begin() + 3, answer.begin() + 7, last);
                Print(out_, "OK", "\n");
                continue;
            }
            if (answer[0] == 2) {
                return true;
            }
            link_.Wait(options_.hourStatusWaitMs);
            command = stored > 0 ? kHourAt : kFirstHour;
        }
        return true;
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
        // Only the file this run made: not what replaced it since, nor a link to it.
        const std::optional<FileIdentity> now = IdentityOf(outputPath_, false);
        if (created_ && now && now->device == created_->device && now->inode == created_->inode) {
            ::unlink(outputPath_.c_str());
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
    FileIdentity list_;
    const QuellarOptions& options_;
    std::FILE* out_;
    std::unique_ptr<protocol::DataFile> output_;
    std::optional<FileIdentity> created_;  // the output file this run made
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
    if (options.portOpened) {
        options.portOpened();
    }
    platform::DeviceControl deviceControl;
    const auto baud = static_cast<std::uint32_t>(speed);
    if (!ConfigurePort(*port, baud, QuellarTimeout(ReadDecimal(arguments[3]), baud),
                       deviceControl)) {
        if (!port->SwitchesParity()) {
            std::fprintf(stderr,
                         "quellar: %s is %s, a network port with fixed line settings; the heat "
                         "calculator needs its parity switched in every request: use "
                         "rfc2217://HOST:PORT\n",
                         portName.c_str(), port->DevicePath().c_str());
        }
        port.reset();
        Print(out, "Can't configure port", "\n");
        return -1;
    }

    const std::filesystem::path configPath = platform::ResolvePath(arguments[5]);
    std::string content;
    switch (platform::ReadFileWhole(configPath, content, kMaxListBytes)) {
        case platform::FileRead::kRead:
            break;
        case platform::FileRead::kMissing:
            Print(out, "Can't open configuration file", "\n");
            return 0;
        default:  // FIFOs and devices too: reading them could block or never end
            Print(out, "Can't read configuration file", "\n");
            return -1;
    }
    const std::optional<FileIdentity> list = IdentityOf(configPath, true);
    if (!list) {
        Print(out, "Can't read configuration file", "\n");
        return -1;
    }
    // Records whose lengths do not add up are refused before the first exchange.
    const std::string pairProblem = MailboxPairProblem(content);
    if (!pairProblem.empty()) {
        Print(out, ("Wrong configuration file: " + pairProblem).c_str(), "\n");
        return -1;
    }

    SerialFrameLink link(*port, deviceControl, out, options.addressPauseMs);
    LineLoop loop(link, static_cast<std::uint8_t>(abonent), deep == 1,
                  platform::ResolvePath(arguments[6]), *list, options, out);
    return loop.Run(content);
}

std::uint32_t QuellarTimeout(long argument, std::uint32_t baud) {
    if (argument <= 0) {
        return protocol::BaseTimeoutForBaud(baud);
    }
    return static_cast<std::uint32_t>(std::min<long>(argument, kMaxTimeoutMs));
}

}  // namespace reader
