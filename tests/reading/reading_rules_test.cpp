// The reading worker's rules that need no device: the slot of a port name, the marks of the
// hourly records, the loading of a parameter list, and loading the modem library.
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/cp1251_literal.h"
#include "protocol/protocol_error.h"
#include "reading/data_file_patch.h"
#include "reading/modem_library.h"
#include "reading/parameter_list.h"
#include "reading/ureadhc.h"
#include "tests/support/scratch_folder.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(ModemSlot, IsTheNumberAfterTheFirstThreeCharacters) {
    const struct {
        const char* port;
        std::uint32_t slot;
    } cases[] = {{"COM3", 3}, {"COM12", 12}, {"COMX", 0}, {"COM", 0},
                 {"", 0},     {"COM3a", 0},  {"TTY7", 7}, {"COM99999999999", 0}};
    for (const auto& c : cases) {
        EXPECT_EQ(reading::ModemSlotOf(c.port), c.slot) << c.port;
    }
}

// A record: length (high byte first), then `body` bytes from the tag-length byte on.
Bytes Record(const Bytes& body) {
    Bytes record = {static_cast<std::uint8_t>(body.size() >> 8),
                    static_cast<std::uint8_t>(body.size())};
    record.insert(record.end(), body.begin(), body.end());
    return record;
}

// An hourly record body of `length` bytes with byte 22 = `mark`, the other bytes 0xAA.
Bytes HourBody(std::size_t length, std::uint8_t mark, std::uint8_t tag = 0x09) {
    Bytes body(length, 0xAA);
    body[0] = 5;
    body[1] = tag;
    if (length > 22) {
        body[22] = mark;
    }
    return body;
}

Bytes Patched(Bytes body) {
    body[22] = 0x01;
    body[23] = 0x00;
    body[24] = 0x04;
    body[29] = 0x03;
    body[30] = 0x10;
    return body;
}

TEST(HourRecordPatch, RewritesOnlyLongHourlyRecordsMarkedTwo) {
    const struct {
        const char* what;
        Bytes body;
        bool patched;
    } cases[] = {
        {"hourly, marked 2", HourBody(92, 0x02), true},
        {"hourly, 31 bytes", HourBody(31, 0x02), true},
        {"hourly, 30 bytes", HourBody(30, 0x02), false},
        {"hourly, marked 1", HourBody(92, 0x01), false},
        {"daily tag", HourBody(92, 0x02, 0x0B), false},
    };
    for (const auto& c : cases) {
        Bytes file = Record(c.body);
        const Bytes expected = Record(c.patched ? Patched(c.body) : c.body);
        EXPECT_EQ(reading::PatchHourRecords(file), c.patched ? 1u : 0u) << c.what;
        EXPECT_EQ(file, expected) << c.what;
    }
}

TEST(HourRecordPatch, StopsAtTheFirstCutOrOversizedRecord) {
    const Bytes hour = Record(HourBody(92, 0x02));
    Bytes oversized = {0x02, 0x01};  // 513 bytes announced
    oversized.resize(2 + 513, 0);
    for (const Bytes& spoiler : {Bytes{0x00, 0x40, 0x05}, oversized}) {
        Bytes file = hour;
        file.insert(file.end(), spoiler.begin(), spoiler.end());
        file.insert(file.end(), hour.begin(), hour.end());
        EXPECT_EQ(reading::PatchHourRecords(file), 1u);
        EXPECT_EQ(Bytes(file.begin(), file.begin() + static_cast<long>(hour.size())),
                  Record(Patched(HourBody(92, 0x02))));
        EXPECT_EQ(Bytes(file.end() - static_cast<long>(hour.size()), file.end()), hour);
    }
}

TEST(HourRecordPatch, WritesTheFileInPlace) {
    testsupport::ScratchFolder folder;
    const auto path = folder.Path() / "dat1hc";
    Bytes file = Record(HourBody(40, 0x07, 0xE6));
    const Bytes hour = Record(HourBody(92, 0x02));
    file.insert(file.end(), hour.begin(), hour.end());
    {
        std::ofstream out(path, std::ios::binary);
        out.write(reinterpret_cast<const char*>(file.data()), static_cast<long>(file.size()));
    }
    ASSERT_TRUE(reading::PatchHourRecordsInFile(path));
    std::ifstream in(path, std::ios::binary);
    const Bytes written{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    reading::PatchHourRecords(file);
    EXPECT_EQ(written, file);
    EXPECT_FALSE(reading::PatchHourRecordsInFile(folder.Path() / "missing"));
}

TEST(ParameterListLoad, CutsCommentsAndDropsBlankLines) {
    testsupport::ScratchFolder folder;
    const auto path = folder.Path() / "list.opr";
    {
        std::ofstream out(path, std::ios::binary);
        out << "; heading\r\nHO_START 1 2 ; tail\r\n   \r\n  ; indented comment\r\n\tR_X 4 0 0 6\n"
               "HO_STOP 1";
    }
    const std::vector<std::string> lines = reading::LoadParameterList(path, "hc\\list.opr");
    EXPECT_EQ(lines, (std::vector<std::string>{"HO_START 1 2 ", "\tR_X 4 0 0 6", "HO_STOP 1"}));
}

TEST(ParameterListLoad, AMissingFileNamesItself) {
    testsupport::ScratchFolder folder;
    try {
        reading::LoadParameterList(folder.Path() / "none.opr", "hc\\none.opr");
        ADD_FAILURE() << "no error";
    } catch (const protocol::ProtocolError& error) {
        EXPECT_EQ(std::string(error.what()),
                  std::string(W1251("Отсутствует файл конфигурации ")) + "hc\\none.opr");
    }
}

TEST(TarvexLoader, AMissingLibraryFailsEveryCall) {
    std::unique_ptr<reading::ModemLibrary> library = reading::LoadTarvex("libtarvex-none.so");
    ASSERT_NE(library, nullptr);
    EXPECT_FALSE(library->Loaded());
    EXPECT_FALSE(library->LoadError().empty());
    EXPECT_EQ(library->ModemConnect(1, "101", 9600, 56000, 1, 1), 0u);
    EXPECT_EQ(library->ModemGetCommHandle(1), 0u);
    EXPECT_EQ(library->ModemDisconnect(1), 0u);
    std::uint8_t buffer[4] = {};
    EXPECT_EQ(library->Exports().ModemReadHC(1, 1, 0x1020, 2, buffer), 0u);
    EXPECT_EQ(library->Exports().ModemWrite(1, 1, buffer), 0u);
}

TEST(TarvexLoader, TheBuiltLibraryLoadsWithItsExports) {
    std::unique_ptr<reading::ModemLibrary> library = reading::LoadTarvex(TARVEX_LIBRARY_PATH);
    ASSERT_NE(library, nullptr);
    ASSERT_TRUE(library->Loaded()) << library->LoadError();
    EXPECT_TRUE(library->LoadError().empty());
    // Slots above 8 are refused by the library itself.
    EXPECT_EQ(library->ModemGetCommHandle(12), 0u);
    std::uint8_t buffer[4] = {};
    EXPECT_EQ(library->Exports().ModemReadHC(12, 1, 0x1020, 2, buffer), 0u);
}

}  // namespace
