#include "reader/line_executor.h"

#include "platform/sleep.h"
#include "protocol/frames.h"
#include "protocol/utv540.h"

namespace reader {
namespace {

constexpr unsigned kMaxFieldEntries = 255;
constexpr std::size_t kCommandAnswerRoom = 150;

}  // namespace

void FrameLink::Wait(std::uint32_t ms) {
    platform::SleepMs(ms);
}

LineExecutor::LineExecutor(FrameLink& link, std::uint8_t abonent, ExecutorTiming timing)
    : link_(link), abonent_(abonent), timing_(timing) {}

bool LineExecutor::Exchange(std::span<const std::uint8_t> request, std::uint8_t* answer,
                            std::size_t capacity, std::size_t& received) {
    received = 0;
    return link_.SendFrame(request) && link_.Receive(answer, capacity, received);
}

bool LineExecutor::ReadMemory(std::uint16_t address, unsigned count, std::uint8_t* destination) {
    std::uint8_t answer[protocol::kMaxReadCount + 4];
    const std::size_t expected = protocol::ReadAnswerLength(count);
    std::size_t received = 0;
    if (!Exchange(protocol::BuildReadRequest(abonent_, address, count), answer, expected,
                  received) ||
        !protocol::IsValidReadAnswer(std::span(answer, received), count)) {
        return false;
    }
    std::copy(answer + 3, answer + 3 + count, destination);
    return true;
}

bool LineExecutor::WriteMemory(std::uint16_t address, std::span<const std::uint8_t> data,
                               bool strict) {
    std::uint8_t ack[3] = {};
    std::size_t received = 0;
    if (!Exchange(protocol::BuildWriteRequest(abonent_, address, data), ack, 3, received)) {
        return false;
    }
    if (strict) {
        return protocol::IsWriteAcknowledgement(std::span(ack, received));
    }
    // Command lines take an acknowledgement when any of its bytes is where it should be.
    const std::uint8_t expected[3] = {0x00, 0x50, 0x50};
    for (std::size_t i = 0; i < received; ++i) {
        if (ack[i] == expected[i]) {
            return true;
        }
    }
    return false;
}

bool LineExecutor::ReadAnswer(unsigned n, bool strict, std::vector<std::uint8_t>& answer) {
    const unsigned count = n + 1;
    const std::vector<std::uint8_t> request =
        protocol::BuildReadRequest(abonent_, protocol::kAnswerArea, count);
    std::uint8_t buffer[protocol::kMaxReadCount + 4];
    const std::size_t capacity = strict ? protocol::ReadAnswerLength(count) : kCommandAnswerRoom;
    for (unsigned read = 0; read <= timing_.statusRereads; ++read) {
        if (read > 0) {
            link_.Wait(timing_.statusPollMs);
        }
        std::size_t received = 0;
        if (!Exchange(request, buffer, capacity, received)) {
            return false;
        }
        if (strict) {
            if (!protocol::IsValidReadAnswer(std::span(buffer, received), count)) {
                return false;
            }
        } else {
            // Status and the N data bytes must be there; the head needs one right byte.
            if (received < 4 + static_cast<std::size_t>(n)) {
                return false;
            }
            if (buffer[0] != 0 && buffer[1] != 0 && buffer[2] != static_cast<std::uint8_t>(n)) {
                return false;
            }
        }
        if (buffer[3] != 0) {
            answer.assign(buffer + 3, buffer + 4 + n);
            return true;
        }
    }
    return false;
}

bool LineExecutor::GroupTable(std::uint16_t root, std::array<std::uint8_t, 40>& table) {
    auto cached = groupTables_.find(root);
    if (cached != groupTables_.end()) {
        table = cached->second;
        return true;
    }
    std::uint8_t pointer[2];
    if (!ReadMemory(root, 2, pointer)) {
        return false;
    }
    const auto address = static_cast<std::uint16_t>(pointer[0] | (pointer[1] << 8));
    if (!ReadMemory(address, 40, table.data())) {
        return false;
    }
    groupTables_[root] = table;
    return true;
}

LineResult LineExecutor::DataField(const ClassifiedLine& line) {
    const std::optional<DataFieldRequest> request = ParseDataFieldLine(line);
    if (!request) {
        return {LineOutcome::Nothing, {}};
    }
    std::array<std::uint8_t, 40> table{};
    if (!GroupTable(request->root, table)) {
        return {LineOutcome::Failed, {}};
    }
    // The table is scanned at every offset for the pair, followed by the first entry address.
    std::uint16_t entry = 0;
    bool groupFound = false;
    for (std::size_t offset = 0; offset + 3 < table.size(); ++offset) {
        if (table[offset] == request->group && table[offset + 1] == request->subgroup) {
            entry = static_cast<std::uint16_t>((table[offset + 2] << 8) | table[offset + 3]);
            groupFound = true;
            break;
        }
    }
    if (!groupFound) {
        return {LineOutcome::Failed, {}};
    }
    for (unsigned step = 0; step < kMaxFieldEntries && entry != 0; ++step) {
        std::uint8_t e[9];
        if (!ReadMemory(entry, 9, e)) {
            return {LineOutcome::Failed, {}};
        }
        if (e[0] != request->field) {
            entry = static_cast<std::uint16_t>((e[2] << 8) | e[3]);
            continue;
        }
        const auto address = static_cast<std::uint16_t>((e[5] << 8) | e[6]);
        const unsigned length = e[8];
        if (length == 0) {
            return {LineOutcome::Skipped, {}};
        }
        std::vector<std::uint8_t> data(length);
        if (!ReadMemory(address, length, data.data())) {
            return {LineOutcome::Failed, {}};
        }
        LineResult result{LineOutcome::Stored, RecordHeader(request->tags, length)};
        result.record.insert(result.record.end(), data.begin(), data.end());
        return result;
    }
    return {LineOutcome::Skipped, {}};
}

bool LineExecutor::MailboxCommand(std::span<const std::uint8_t> command, unsigned n,
                                  std::vector<std::uint8_t>& answer) {
    const std::uint8_t clear = 0x00;
    return WriteMemory(protocol::kAnswerArea, std::span(&clear, 1), true) &&
           WriteMemory(protocol::kCommandArea, command, true) && ReadAnswer(n, true, answer);
}

LineResult LineExecutor::Mailbox(const ClassifiedLine& line) {
    const MailboxRequest request = ParseMailboxLine(line);
    if (request.answerLength < 0 || request.answerLength + 1 > protocol::kMaxReadCount) {
        return {LineOutcome::Hopeless, {}};
    }
    const auto n = static_cast<unsigned>(request.answerLength);
    std::vector<std::uint8_t> answer;
    if (!MailboxCommand(request.command, n, answer)) {
        return {LineOutcome::Failed, {}};
    }
    LineResult result{LineOutcome::Stored, {}};
    if (request.opensPair) {
        result.record = RecordHeader(request.tags, 2 * static_cast<std::size_t>(n));
    }
    result.record.insert(result.record.end(), answer.begin() + 1, answer.end());
    return result;
}

LineResult LineExecutor::Command(const ClassifiedLine& line) {
    const CommandRequest request = ParseCommandLine(line);
    if (request.answerLength < 0 ||
        4 + static_cast<std::size_t>(request.answerLength) > kCommandAnswerRoom) {
        return {LineOutcome::Hopeless, {}};
    }
    const auto n = static_cast<unsigned>(request.answerLength);
    const std::uint8_t clear = 0x00;
    std::vector<std::uint8_t> answer;
    if (!WriteMemory(protocol::kAnswerArea, std::span(&clear, 1), false) ||
        !WriteMemory(protocol::kCommandArea, request.command, false) ||
        !ReadAnswer(n, false, answer)) {
        return {LineOutcome::Failed, {}};
    }
    LineResult result{LineOutcome::Stored, RecordHeader(request.tags, n)};
    result.record.insert(result.record.end(), answer.begin() + 1, answer.end());
    return result;
}

}  // namespace reader
