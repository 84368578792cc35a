// The hourly archive: newest record first (command 16), then older ones (15); after a failed
// exchange the archive is re-positioned at the last stored hour (12) so nothing is stored twice.
#include <cstdio>
#include <string>

#include "platform/cp1251_literal.h"
#include "platform/sleep.h"
#include "protocol/archive_progress.h"
#include "protocol/data_file.h"
#include "protocol/protocol_error.h"
#include "protocol/utv540.h"

namespace protocol {
namespace {

constexpr int kMaxIterations = 1000;
constexpr std::uint8_t kFirstHour = 16;
constexpr std::uint8_t kNextHour = 15;
constexpr std::uint8_t kHourAt = 12;

std::string TwoDigits(int value) {
    char text[4];
    std::snprintf(text, sizeof text, "%02d", value % 100);
    return text;
}

std::string HourProgressText(unsigned stored, const std::uint8_t* last) {
    std::string text =
        std::string(W1251("Считываются часовые архивы. Считано всего: ")) + std::to_string(stored);
    if (stored > 0) {
        // last: year, month, day, hour
        text += std::string(W1251("\r\nПоследний считанный архив: ")) + std::to_string(last[3]) +
                std::string(W1251(" час ")) + TwoDigits(last[2]) + "." + TwoDigits(last[1]) + "." +
                TwoDigits(last[0]);
    }
    return text;
}

}  // namespace

void CTV540::ReadHourArchive(DataFile& file, ArchiveProgress& progress) {
    const unsigned n = HourRecordSize();
    std::uint8_t command = kFirstHour;
    unsigned stored = 0;
    std::uint8_t last[4] = {};  // year, month, day, hour of the last stored record
    std::vector<std::uint8_t> answer(n);
    for (int iteration = 0; iteration < kMaxIterations; ++iteration) {
        if (progress.Report(HourProgressText(stored, last), iteration, kMaxIterations)) {
            return;
        }
        const std::uint8_t request[5] = {command, last[0], last[1], last[2], last[3]};
        const unsigned requestLength = command == kHourAt ? 5 : 1;
        std::fill(answer.begin(), answer.end(), 0);
        const bool answered = ExecuteCommand(requestLength, n, request, answer.data(), 1);
        if (answered && answer[0] == 1) {
            const bool repositioned = command == kHourAt;
            command = kNextHour;
            if (repositioned) {
                continue;  // this record is already in the file
            }
            const std::vector<std::uint8_t> record = HourRecord(stored, answer.data(), n - 1);
            if (!file.Write(record)) {
                throw ProtocolError(W1251("Ошибка при записи в файл данных."));
            }
            ++stored;
            std::copy(answer.begin() + 3, answer.begin() + 7, last);
            continue;
        }
        if (answered && answer[0] == 2) {
            return;
        }
        if (answered) {
            platform::SleepMs(100);
        }
        command = stored > 0 ? kHourAt : kFirstHour;
    }
}

}  // namespace protocol
