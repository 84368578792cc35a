#include "reader/line_executor.h"

#include <algorithm>

#include "protocol/frames.h"
#include "protocol/utv540.h"

namespace reader {
namespace {

constexpr unsigned kMaxFieldEntries = 255;
constexpr std::size_t kCommandAnswerRoom = 150;

}  // namespace

LineExecutor::LineExecutor(FrameLink& link, std::uint8_t abonent, ExecutorTiming timing)
    : link_(link), abonent_(abonent), timing_(timing) {}

bool LineExecutor::Exchange(std::span<const std::uint8_t> request, std::uint8_t* answer,
                            std::size_t capacity, std::size_t& received) {
    received = 0;
    return link_.SendFrame(request) && link_.Receive(answer, capacity, received);
}

bool LineExecutor::ReadMemory(std::uint16_t address, unsigned count, std::uint8_t* destination) {
    return link_.ReadExchange(abonent_, address, count, destination);
}

bool LineExecutor::WriteMemory(std::uint16_t address, std::span<const std::uint8_t> data,
                               bool strict) {
    if (strict) {
        return link_.WriteExchange(abonent_, address, data);
    }
    std::uint8_t ack[3] = {};
    std::size_t received = 0;
    if (!Exchange(protocol::BuildWriteRequest(abonent_, address, data), ack, 3, received)) {
        return false;
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
    // The room of a command-line answer, but never less than the whole answer: a read that
    // left its checksum byte behind would start the next read of the answer area on it.
    const std::size_t capacity =
        strict ? protocol::ReadAnswerLength(count)
               : std::max(kCommandAnswerRoom, protocol::ReadAnswerLength(count));
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

LineResult LineExecutor::DataField(const ClassifiedLine& line) {
    const std::optional<DataFieldRequest> request = ParseDataFieldLine(line);
    if (!request) {
        return {LineOutcome::Nothing, {}};
    }
    const protocol::MemoryReader read = [this](std::uint16_t address, unsigned count,
                                               std::uint8_t* to) {
        return ReadMemory(address, count, to);
    };
    protocol::GroupTable& table =
        groupTables_.try_emplace(request->root, request->root).first->second;
    std::uint16_t firstEntry = 0;
    // A group that is not there fails the line; a field missing from a found group is skipped.
    if (table.Find(read, request->group, request->subgroup, firstEntry) !=
        protocol::DirectoryLookup::kFound) {
        return {LineOutcome::Failed, {}};
    }
    protocol::FieldLocation location;
    switch (
        protocol::FindFieldInChain(read, firstEntry, request->field, kMaxFieldEntries, location)) {
        case protocol::DirectoryLookup::kReadFailed:
            return {LineOutcome::Failed, {}};
        case protocol::DirectoryLookup::kNotFound:
            return {LineOutcome::Skipped, {}};
        case protocol::DirectoryLookup::kFound:
            break;
    }
    if (location.size > protocol::kMaxReadCount) {
        return {LineOutcome::Hopeless, {}};
    }
    std::vector<std::uint8_t> data(location.size);
    if (!ReadMemory(location.address, location.size, data.data())) {
        return {LineOutcome::Failed, {}};
    }
    LineResult result{LineOutcome::Stored, RecordHeader(request->tags, location.size)};
    result.record.insert(result.record.end(), data.begin(), data.end());
    return result;
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
