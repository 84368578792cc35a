#include "updtools/fenlor.h"

#include <memory>

#include "platform/win_path.h"
#include "updtools/archive_output.h"
#include "updtools/tool_common.h"
#include "updtools/upd_link.h"

namespace updtools {

namespace {

constexpr ToolWaits kWaits{200, 200};

// Passes catalog entries 1..k, so that entry k becomes the device's current archive; the
// walk ends early where the catalog does. A damaged or missing entry leaves unknown which
// archive the device stands on: false, so that no other archive passes for the chosen one.
bool SelectArchive(UpdPort& port, long long k, std::FILE* out) {
    for (long long n = 1; n <= k; ++n) {
        const Reply reply = port.Exchange(UpdCommand::kNextEntry);
        if (IsEndOfList(reply)) {
            return true;
        }
        if (!IsWholeReply(reply)) {
            return false;
        }
        Print(out, std::to_string(n) + " = " + EntryName(reply), "\r\n");
    }
    return true;
}

// The current archive's blocks up to the device's end mark. A block that is missing, short or
// damaged fails the download: skipping it would shift every later record of the dump.
bool ReadBlocks(UpdPort& port, ArchiveOutput& output, std::FILE* out) {
    for (unsigned b = 1;; ++b) {
        const Reply reply = port.Exchange(UpdCommand::kNextBlock);
        if (reply.empty()) {
            return false;
        }
        if (IsEndOfList(reply)) {
            return true;
        }
        if (!IsWholeReply(reply)) {
            return false;
        }
        Print(out, std::to_string(b) + " ", "\r\n");
        if (!output.Append(reply.data() + kPayloadOffset, kPayloadSize)) {
            return false;
        }
    }
}

// Everything after the argument count; true when the archive is in the output file.
bool Download(const std::vector<std::string>& arguments, ArchiveOutput& output, std::FILE* out) {
    const int portNumber = ToolPortNumber(arguments[0]);
    if (portNumber == 0) {
        Print(out, "Wrong port number", "\r\n");
        return false;
    }
    Print(out, "COM" + std::to_string(portNumber), "\n");
    const long long baud = ParseNumber(arguments[1]);
    if (!IsUpdSpeed(baud)) {
        Print(out, "Wrong speed", "\r\n");
        return false;
    }
    std::unique_ptr<UpdPort> port = OpenToolPort(portNumber, static_cast<std::uint32_t>(baud),
                                                 ToolTimeout(arguments[3]), kWaits);
    if (port == nullptr) {
        Print(out, "Error open port", "");
        return false;
    }
    if (!AnyAcknowledgementByte(port->Exchange(UpdCommand::kOpen))) {
        Print(out, "Reset status error", "");
        return false;
    }
    if (!output.Create()) {
        Print(out, "Error creating file", "");
        return false;
    }
    const bool complete =
        SelectArchive(*port, ParseNumber(arguments[4]), out) && ReadBlocks(*port, output, out);
    port.reset();  // control lines off and closed before the file is settled
    return complete && output.Commit();
}

}  // namespace

int RunFenlor(const std::vector<std::string>& arguments, const FenlorOptions& options,
              std::FILE* out) {
    if (arguments.size() != kToolArguments) {
        Print(out, "Wrong parametrs", "\r\n");
        return 0;
    }
    ArchiveOutput output(platform::ResolvePath(arguments[5]), options.temporaryCreated,
                         options.temporarySettled);
    if (!Download(arguments, output, out)) {
        output.Discard();
    }
    return 0;
}

}  // namespace updtools
