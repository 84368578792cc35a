// Feeds arbitrary bytes to the dump conversion as a dump file. A dump that is refused, or is not
// of version 60, must stay byte for byte as it was; a damaged one must not be converted; a
// converted one must be a well-formed data file. Memory errors are caught by the sanitizers.
#include <unistd.h>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/ini_file.h"
#include "protocol/tv540v60upd.h"

namespace {

std::vector<std::uint8_t> ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

bool WellFormed(const std::vector<std::uint8_t>& file) {
    std::size_t at = 0;
    while (at + 2 <= file.size()) {
        at += 2 + ((static_cast<std::size_t>(file[at]) << 8) | file[at + 1]);
    }
    return at == file.size();
}

struct Walk {
    bool version60 = false;  // the first settings record says 60
    bool sound = false;      // records up to a stop record, or ending in the fill of a block
};

// Walks the records as a device delivers them: up to the stop record; without one they may end
// in fewer than 16 bytes of 00 or of FF. Anything else is a damaged dump.
Walk WalkDump(const std::vector<std::uint8_t>& dump) {
    Walk walk;
    bool versionSeen = false;
    std::size_t at = 0;
    bool any = false;
    while (dump.size() - at >= 8) {
        const std::size_t length = (static_cast<std::size_t>(dump[at]) << 8) | dump[at + 1];
        if (length < 6 || length > dump.size() - at - 2 || dump[at + 2] != 5) {
            break;
        }
        any = true;
        const std::uint8_t* tag = &dump[at + 3];
        if (!versionSeen && length > 20 && tag[0] == 230 && tag[1] == 0 && tag[2] == 61) {
            versionSeen = true;
            walk.version60 = dump[at + 8 + 14] == 60;
        }
        at += 2 + length;
        if (tag[0] == 255 && tag[1] == 1 && tag[2] == 53) {
            walk.sound = true;
            return walk;
        }
    }
    const std::size_t rest = dump.size() - at;
    bool fill = rest < 16;
    for (std::size_t i = at; fill && i < dump.size(); ++i) {
        fill = dump[i] == dump[at] && (dump[i] == 0x00 || dump[i] == 0xFF);
    }
    walk.sound = any && fill;
    return walk;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string path = "/tmp/convert-dump-fuzz-" + std::to_string(::getpid());
    const std::vector<std::uint8_t> input(data, data + size);
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    platform::IniFile settings;
    protocol::CTV540v60Upd converter;
    const bool converted = converter.ConvertDump(path, settings);
    const std::vector<std::uint8_t> after = ReadAll(path);
    const Walk walk = WalkDump(input);
    if (!converted || !walk.version60) {
        if (after != input) {
            std::fprintf(stderr, "a dump that was not converted changed\n");
            std::abort();
        }
    } else if (!walk.sound) {
        std::fprintf(stderr, "a damaged dump was converted\n");
        std::abort();
    } else if (!WellFormed(after)) {
        std::fprintf(stderr, "the converted file is not a sequence of records\n");
        std::abort();
    }
    ::unlink(path.c_str());
    return 0;
}
