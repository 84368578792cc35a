// Feeds arbitrary replies to the catalog reading of the data transfer device: the acknowledgement,
// then entries until one is not a whole reply, written to the catalog file and loaded as the main
// window loads it. Properties: a whole reply is 20 bytes with its sum, and no single damaged or
// missing byte passes for one; a name is at most 16 bytes without a zero; the catalog file holds
// one "n - name" line per entry; the tools' number reader agrees with strtoll.
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "gui/rules/report_files.h"
#include "updtools/upd_link.h"

namespace {

using updtools::Reply;

// A length byte, then the reply; length 21 stands for 19 bytes and their right sum, so whole
// replies are easy to reach.
std::vector<Reply> SplitReplies(const std::uint8_t* data, std::size_t size) {
    std::vector<Reply> replies;
    std::size_t at = 0;
    while (at < size) {
        const std::size_t code = data[at++] % 22;
        const std::size_t length = std::min(code == 21 ? std::size_t{19} : code, size - at);
        Reply reply(data + at, data + at + length);
        at += length;
        if (code == 21) {
            std::uint8_t sum = 0;
            for (std::uint8_t byte : reply) {
                sum = static_cast<std::uint8_t>(sum + byte);
            }
            reply.push_back(sum);
        }
        replies.push_back(std::move(reply));
    }
    return replies;
}

void CheckReply(const Reply& reply) {
    if (updtools::IsEndOfList(reply)) {
        fuzz::Check(updtools::AnyAcknowledgementByte(reply), "an acknowledgement is seen as one");
    }
    if (!updtools::IsWholeReply(reply)) {
        return;
    }
    fuzz::Check(reply.size() == updtools::kReplySize, "a whole reply is 20 bytes");
    const std::string name = updtools::EntryName(reply);
    fuzz::Check(name.size() <= updtools::kPayloadSize && name.find('\0') == std::string::npos,
                "a name is at most 16 bytes without a zero");
    for (std::size_t i = 0; i < reply.size(); ++i) {
        for (const int change : {1, 0x80, 0xFF}) {
            Reply damaged = reply;
            damaged[i] = static_cast<std::uint8_t>(damaged[i] + change);
            fuzz::Check(!updtools::IsWholeReply(damaged), "a damaged byte is never a whole reply");
        }
    }
    fuzz::Check(!updtools::IsWholeReply(Reply(reply.begin(), reply.end() - 1)) &&
                    !updtools::IsWholeReply(Reply(reply.begin() + 1, reply.end())),
                "a missing byte is never a whole reply");
}

// The catalog reader's walk after the open: entries until a reply that is short, the
// acknowledgement or not whole.
std::vector<std::string> CatalogLines(const std::vector<Reply>& replies) {
    std::vector<std::string> lines;
    if (replies.empty() || !updtools::IsEndOfList(replies.front())) {
        return lines;
    }
    for (std::size_t n = 1; n < replies.size(); ++n) {
        const Reply& reply = replies[n];
        if (reply.size() < 3 || updtools::IsEndOfList(reply) || !updtools::IsWholeReply(reply)) {
            break;
        }
        lines.push_back(std::to_string(n) + " - " + updtools::EntryName(reply));
    }
    return lines;
}

void CheckNumber(const std::string& text) {
    const long long value = updtools::ParseNumber(text);
    errno = 0;
    const long long expected = std::strtoll(text.c_str(), nullptr, 10);
    if (text.find('\0') != std::string::npos) {
        return;  // strtoll stops at the zero
    }
    if (expected == LLONG_MAX || expected == LLONG_MIN) {
        fuzz::Check(value == LLONG_MAX || value == -LLONG_MAX || value == expected,
                    "a number too large saturates");
    } else {
        fuzz::Check(value == expected, "a number reads as strtoll reads it");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const fuzz::ScratchFile file("katalog");
    CheckNumber(std::string(reinterpret_cast<const char*>(data), std::min<std::size_t>(size, 40)));
    const std::vector<Reply> replies = SplitReplies(data, size);
    for (const Reply& reply : replies) {
        CheckReply(reply);
    }
    const std::vector<std::string> lines = CatalogLines(replies);
    if (lines.empty()) {
        return 0;
    }
    std::string text;
    for (const std::string& line : lines) {
        text += line + "\r\n";
    }
    std::vector<std::string> loaded;
    fuzz::Check(calvix::LoadTextLines(file.Write(text), loaded), "the catalog file loads");
    fuzz::Check(loaded == lines, "the catalog file holds one line per entry");
    return 0;
}
