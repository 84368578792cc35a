// Feeds arbitrary bytes to calvix.ini's reader, then changes it as the programs do and writes it
// back. Properties: the text written reads back to the same text and the same lookups; a value
// written is the value read, in memory and after the file went through the disk.
#include <fuzzer/FuzzedDataProvider.h>

#include <climits>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "platform/codepage.h"
#include "platform/ini_file.h"
#include "platform/text_trim.h"

namespace {

using platform::IniFile;

bool Trimmed(const std::string& text) {
    return platform::TrimBlanks(text) == text && text.find_first_of("\r\n") == std::string::npos;
}

// What a line of the file can carry: the reader trims, splits at the first "=" and takes a line
// in brackets for a section.
bool Representable(const std::string& section, const std::string& key, const std::string& value) {
    return Trimmed(section) && Trimmed(key) && Trimmed(value) && !key.empty() &&
           key.find('=') == std::string::npos && key.front() != ';' &&
           !(key.front() == '[' && !value.empty() && value.back() == ']');
}

void CheckSameLookups(const IniFile& a, const IniFile& b) {
    fuzz::Check(a.Sections() == b.Sections(), "the sections read back");
    for (const std::string& section : a.Sections()) {
        fuzz::Check(a.SectionLines(section) == b.SectionLines(section), "a section reads back");
        fuzz::Check(a.SectionExists(section) == !a.SectionKeys(section).empty(),
                    "a section exists when it holds a key");
        for (const std::string& key : a.SectionKeys(section)) {
            fuzz::Check(a.ValueExists(section, key), "a listed key exists");
            fuzz::Check(a.ReadString(section, key, "\x01") == b.ReadString(section, key, "\x02"),
                        "a value reads back");
            fuzz::Check(a.ReadInteger(section, key, 7) == b.ReadInteger(section, key, 7),
                        "an integer reads back");
        }
    }
}

void ChangeAndCheck(IniFile& ini, FuzzedDataProvider& input) {
    for (int i = 0; i < 4 && input.remaining_bytes() > 0; ++i) {
        const std::string section = input.ConsumeRandomLengthString(16);
        const std::string key = input.ConsumeRandomLengthString(16);
        switch (input.ConsumeIntegralInRange(0, 3)) {
            case 0: {
                const std::string value = input.ConsumeRandomLengthString(32);
                if (Representable(section, key, value)) {
                    ini.WriteString(section, key, value);
                    fuzz::Check(ini.ReadString(section, key, "") == value, "a written value reads");
                }
                break;
            }
            case 1: {
                const int value = input.ConsumeIntegral<int>();
                if (Representable(section, key, "")) {
                    ini.WriteInteger(section, key, value);
                    fuzz::Check(ini.ReadInteger(section, key, 0) == value,
                                "a written integer reads");
                }
                break;
            }
            case 2: {
                // A key the file holds twice shows its second value once the first is deleted.
                std::size_t copies = 0;
                for (const std::string& held : ini.SectionKeys(section)) {
                    copies += platform::Cp1251EqualsIgnoreCase(held, key) ? 1 : 0;
                }
                ini.DeleteKey(section, key);
                fuzz::Check(copies > 1 || !ini.ValueExists(section, key), "a deleted key is gone");
                break;
            }
            default:
                ini.EraseSection(section);
                break;
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const fuzz::ScratchFile file("ini");
    FuzzedDataProvider input(data, size);
    const bool throughDisk = input.ConsumeBool();
    const std::string text = input.ConsumeRandomLengthString(size);

    IniFile first;
    first.Parse(text);
    const std::string written = first.Text();
    IniFile again;
    again.Parse(written);
    fuzz::Check(again.Text() == written, "the text written reads back to the same text");
    CheckSameLookups(first, again);

    ChangeAndCheck(again, input);
    IniFile reread;
    if (throughDisk) {
        file.Write(text);
        IniFile loaded;
        fuzz::Check(loaded.Load(file.Path()) == platform::FileRead::kRead, "the file loads");
        fuzz::Check(loaded.Text() == written, "a loaded file reads as its text");
        loaded.Parse(again.Text());
        fuzz::Check(loaded.UpdateFile(), "the file is written back");
        fuzz::Check(reread.Load(file.Path()) == platform::FileRead::kRead, "the file reloads");
    } else {
        reread.Parse(again.Text());
    }
    fuzz::Check(reread.Text() == again.Text(), "a changed file reads back to the same text");
    CheckSameLookups(again, reread);
    return 0;
}
