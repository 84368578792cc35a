// Executes the data lines of a parameter list (data-field, mailbox and command lines) over a
// frame link, and hands back the bytes to append to the data file.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <span>
#include <vector>

#include "protocol/directory.h"
#include "protocol/frame_link.h"
#include "reader/param_line.h"

namespace reader {

// quellar's COM port, or the GUI worker's port or modem call.
using FrameLink = protocol::FrameLink;

struct ExecutorTiming {
    std::uint32_t statusPollMs = 100;  // between reads of an answer whose status is still 0
    unsigned statusRereads = 10;       // reads after the first one
};

enum class LineOutcome {
    Stored,    // `record` holds the bytes to append
    Skipped,   // done, nothing to store (a field missing from its group)
    Nothing,   // the line is malformed and does nothing
    Failed,    // this attempt failed; another may succeed
    Hopeless,  // the line cannot succeed however often it is tried
};

struct LineResult {
    LineOutcome outcome = LineOutcome::Failed;
    std::vector<std::uint8_t> record;
};

class LineExecutor {
  public:
    LineExecutor(FrameLink& link, std::uint8_t abonent, ExecutorTiming timing = {});

    LineResult DataField(const ClassifiedLine& line);
    LineResult Mailbox(const ClassifiedLine& line);
    LineResult Command(const ClassifiedLine& line);

    // One mailbox command with the strict checks of mailbox lines: `answer` gets the status
    // and the n bytes after it. False when an exchange failed or the status stayed 0.
    bool MailboxCommand(std::span<const std::uint8_t> command, unsigned n,
                        std::vector<std::uint8_t>& answer);

  private:
    bool Exchange(std::span<const std::uint8_t> request, std::uint8_t* answer, std::size_t capacity,
                  std::size_t& received);
    bool ReadMemory(std::uint16_t address, unsigned count, std::uint8_t* destination);
    bool WriteMemory(std::uint16_t address, std::span<const std::uint8_t> data, bool strict);
    // Reads N + 1 bytes of the answer area until its status is not 0; `answer` gets status
    // and the N bytes after it.
    bool ReadAnswer(unsigned n, bool strict, std::vector<std::uint8_t>& answer);

    FrameLink& link_;
    std::uint8_t abonent_;
    ExecutorTiming timing_;
    // Per root, read once per run.
    std::map<std::uint16_t, protocol::GroupTable> groupTables_;
};

}  // namespace reader
