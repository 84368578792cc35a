// Feeds arbitrary bytes to the dump conversion as a dump file. A dump that is refused, or is not
// of version 60, must stay byte for byte as it was; a converted one must be a well-formed data
// file. Memory errors are caught by the sanitizers.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <unistd.h>
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

bool IsVersion60(const std::vector<std::uint8_t>& dump) {
    protocol::CTV540v60Upd probe;
    std::size_t at = 0;
    while (at + 2 <= dump.size()) {
        const std::size_t length = (static_cast<std::size_t>(dump[at]) << 8) | dump[at + 1];
        if (length > 20 && at + 2 + length <= dump.size() && dump[at + 3] == 230 &&
            dump[at + 4] == 0 && dump[at + 5] == 61) {
            return dump[at + 8 + 14] == 60;
        }
        if (length == 0) {
            return false;
        }
        at += 2 + length;
    }
    return false;
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
    if (!converted || !IsVersion60(input)) {
        if (after != input) {
            std::fprintf(stderr, "a dump that was not converted changed\n");
            std::abort();
        }
    } else if (!WellFormed(after)) {
        std::fprintf(stderr, "the converted file is not a sequence of records\n");
        std::abort();
    }
    ::unlink(path.c_str());
    return 0;
}
