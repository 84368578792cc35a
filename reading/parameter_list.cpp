#include "reading/parameter_list.h"

#include "platform/cp1251_literal.h"
#include "platform/file_io.h"
#include "platform/text_trim.h"
#include "protocol/protocol_error.h"
#include "reader/line_executor.h"
#include "reader/param_line.h"
#include "workers/uthreadextproc.h"

namespace reading {
namespace {

constexpr int kLineTries = 3;
constexpr std::size_t kMaxListBytes = std::size_t{4} << 20;
constexpr unsigned kStatusRereads = 10;

void Write(protocol::DataFile& file, const std::vector<std::uint8_t>& bytes) {
    if (!bytes.empty() && !file.Write(bytes)) {
        throw protocol::ProtocolError(W1251("Ошибка при записи в файл данных."));
    }
}

reader::LineResult TryLine(reader::LineExecutor& executor, const reader::ClassifiedLine& line) {
    switch (line.kind) {
        case reader::LineKind::DataField:
            return executor.DataField(line);
        case reader::LineKind::Mailbox:
            return executor.Mailbox(line);
        default:
            return executor.Command(line);
    }
}

// Up to three tries; the third failure ends the reading.
void RunDataLine(reader::LineExecutor& executor, const reader::ClassifiedLine& line, ListRun& run) {
    for (int tryNumber = 1; tryNumber <= kLineTries; ++tryNumber) {
        reader::LineResult result = TryLine(executor, line);
        if (result.outcome == reader::LineOutcome::Hopeless) {
            break;
        }
        if (result.outcome == reader::LineOutcome::Nothing) {
            return;  // a malformed line does nothing
        }
        if (result.outcome != reader::LineOutcome::Failed) {
            run.device.NotifyExchange(true);
            Write(run.file, result.record);
            return;
        }
        run.device.NotifyExchange(false);
        if (run.overModem) {
            run.device.RecoverLink();
        } else {
            // A late answer of this try must not be taken for the next one's.
            run.device.Link().DiscardInput();
        }
        if (tryNumber < kLineTries) {
            run.pauseBeforeRetry();
        }
    }
    throw protocol::ProtocolError(W1251("Ошибка связи."));
}

void ReadHoursBeforeStop(ListRun& run) {
    try {
        run.device.ReadHourArchive(run.file, run.progress);
    } catch (const protocol::ProtocolError&) {
        // The hours are a bonus; the reading stands without them.
    }
}

}  // namespace

std::vector<std::string> LoadParameterList(const std::filesystem::path& path,
                                           const std::string& name) {
    std::string content;
    if (platform::ReadFileWhole(path, content, kMaxListBytes) != platform::FileRead::kRead) {
        throw protocol::ProtocolError(std::string(W1251("Отсутствует файл конфигурации ")) + name);
    }
    std::vector<std::string> lines;
    for (std::string& line : workers::extproc::TextLines(content)) {
        const std::size_t comment = line.find(';');
        if (comment != std::string::npos) {
            line.erase(comment);
        }
        if (!platform::TrimBlanks(line).empty()) {
            lines.push_back(std::move(line));
        }
    }
    return lines;
}

void RunParameterList(const std::vector<std::string>& lines, ListRun& run) {
    reader::ExecutorTiming timing;
    timing.statusPollMs = static_cast<std::uint32_t>(run.statusPoll.count());
    timing.statusRereads = kStatusRereads;
    reader::LineExecutor executor(run.device.Link(), run.device.abonent, timing);
    const int count = static_cast<int>(lines.size());
    for (int i = 0; i < count; ++i) {
        run.beforeLine(i, count);
        const reader::ClassifiedLine line =
            reader::ClassifyLine(lines[static_cast<std::size_t>(i)]);
        switch (line.kind) {
            case reader::LineKind::Start:
                Write(run.file, reader::MarkRecordFromLine(line));
                break;
            case reader::LineKind::Stop:
                if (run.readHourly) {
                    ReadHoursBeforeStop(run);
                }
                Write(run.file, reader::MarkRecordFromLine(line));
                return;  // nothing after the stop line is read
            case reader::LineKind::DataField:
            case reader::LineKind::Mailbox:
            case reader::LineKind::Command:
                RunDataLine(executor, line, run);
                break;
            case reader::LineKind::Skip:
            case reader::LineKind::Ignored:
                break;
        }
    }
}

}  // namespace reading
