// The device directory, fields, version detection and the clock, against an emulated device
// whose memory the tests lay out themselves.
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/cp1251_literal.h"
#include "platform/ini_file.h"
#include "protocol/data_file.h"
#include "protocol/device_dates.h"
#include "protocol/protocol_error.h"
#include "tests/support/direct_modem.h"
#include "tests/support/scratch_folder.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using protocol::FieldLocation;

constexpr std::uint16_t kRoot = 0x5000;

std::string ErrorOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const protocol::ProtocolError& error) {
        return error.what();
    }
    return "(no error)";
}

class Directory : public ::testing::Test {
  protected:
    Directory()
        : device_(emulators::HcConfig{}), modem_(device_), link_(testsupport::DirectLink(modem_)) {}

    void Poke(std::uint16_t address, const Bytes& bytes) { device_.Poke(address, bytes); }

    // Root -> group table at 0x5010 with the given (group, subgroup, first entry) rows.
    void Groups(const std::vector<std::array<unsigned, 3>>& rows, bool endMark = true) {
        Poke(kRoot, {0x10, 0x50});
        std::uint16_t at = 0x5010;
        for (const auto& row : rows) {
            Poke(at, {static_cast<std::uint8_t>(row[0]), static_cast<std::uint8_t>(row[1]),
                      static_cast<std::uint8_t>(row[2] >> 8), static_cast<std::uint8_t>(row[2]), 0,
                      0, 0, 0});
            at += 8;
        }
        if (endMark) {
            Poke(at, {0xFF});
        }
    }

    // A field entry at `entry` ending at `end`, with the next entry's address stored there.
    void Entry(std::uint16_t entry, std::uint8_t field, std::uint8_t flags, std::uint16_t end,
               std::uint8_t layout, std::uint16_t next, const Bytes& rest = {}) {
        Poke(entry, {field, flags, static_cast<std::uint8_t>(end >> 8),
                     static_cast<std::uint8_t>(end), layout});
        if (!rest.empty()) {
            Poke(entry + 5, rest);
        }
        Poke(end, {static_cast<std::uint8_t>(next >> 8), static_cast<std::uint8_t>(next)});
    }

    bool Find(std::uint8_t group, std::uint8_t subgroup, std::uint8_t field,
              FieldLocation& location) {
        return link_->FindDataField(kRoot, group, subgroup, field, location);
    }

    emulators::HcDevice device_;
    testsupport::DirectModem modem_;
    std::unique_ptr<protocol::CTV540> link_;
};

TEST_F(Directory, FindsDataInEachOfTheThreePlaces) {
    Groups({{7, 1, 0x5100}});
    Entry(0x5100, 1, 0x00, 0x510A, 0, 0x5120);     // inline after 4 bytes: 0x5104, size 6
    Entry(0x5120, 2, 0x82, 0x5130, 0x00, 0x5140);  // inline after 5 bytes: 0x5125, size 11
    Entry(0x5140, 3, 0x80, 0x5149, 0x40, 0, {0x60, 0x00, 0x01, 0x00});  // at 0x6000, 256 bytes
    FieldLocation location;
    ASSERT_TRUE(Find(7, 1, 1, location));
    EXPECT_EQ(location.address, 0x5104);
    EXPECT_EQ(location.size, 6);
    ASSERT_TRUE(Find(7, 1, 2, location));
    EXPECT_EQ(location.address, 0x5125);
    EXPECT_EQ(location.size, 11);
    EXPECT_EQ(location.flags, 0x82);
    ASSERT_TRUE(Find(7, 1, 3, location));
    EXPECT_EQ(location.address, 0x6000);
    EXPECT_EQ(location.size, 256);
    EXPECT_FALSE(Find(7, 1, 4, location)) << "end of the chain";
    EXPECT_FALSE(Find(7, 2, 1, location)) << "no such group";
}

TEST_F(Directory, EmptyOrImpossibleLocationsAreNotFound) {
    Groups({{7, 1, 0x5100}});
    Entry(0x5100, 1, 0x00, 0x5104, 0, 0x5120);                          // end at E + 4: no data
    Entry(0x5120, 2, 0x80, 0x5125, 0x00, 0x5140);                       // end at E + 5: no data
    Entry(0x5140, 3, 0x80, 0x5149, 0x80, 0x5160);                       // layout 10: unknown
    Entry(0x5160, 4, 0x80, 0x5169, 0x40, 0, {0x60, 0x00, 0x00, 0x00});  // size 0
    FieldLocation location;
    for (std::uint8_t field : {1, 2, 3, 4}) {
        EXPECT_FALSE(Find(7, 1, field, location)) << int(field);
    }
}

TEST_F(Directory, LoopsAndMissingEndMarksStopAtTheLimits) {
    // A group table that never ends, and a chain whose entry points back at itself.
    for (std::uint16_t at = 0x5010; at < 0x5010 + 300 * 8; at += 8) {
        Poke(at, {9, 9, 0, 0, 0, 0, 0, 0});
    }
    Poke(kRoot, {0x10, 0x50});
    FieldLocation location;
    unsigned before = device_.Stats().readFrames;
    EXPECT_FALSE(Find(1, 1, 1, location));
    EXPECT_EQ(device_.Stats().readFrames - before, 1u + 255u);

    Groups({{7, 1, 0x7000}});
    Entry(0x7000, 1, 0x00, 0x7008, 0, 0x7000);
    before = device_.Stats().readFrames;
    EXPECT_FALSE(Find(7, 1, 2, location));
    EXPECT_EQ(device_.Stats().readFrames - before, 2u + 255u * 2u);
}

TEST_F(Directory, ElementsOfBytesAndWords) {
    Groups({{101, 0, 0x5100}});
    Entry(0x5100, 30, 0x00, 0x510C, 0, 0x5120);  // bytes at 0x5104..0x510B
    Poke(0x5104, {1, 2, 3, 4, 60, 6, 7, 8});
    Entry(0x5120, 31, 0x82, 0x5129, 0x40, 0, {0x61, 0x00, 0x00, 0x0A});  // words at 0x6100
    Poke(0x6100, {0x00, 0x10, 0x01, 0x3C, 0x00, 0x35, 0xAB, 0xCD, 0x00, 0x05});
    protocol::ElementValue value;
    ASSERT_TRUE(link_->ReadFieldElement(kRoot, 101, 0, 30, 5, value));
    EXPECT_EQ(value.kind, 1);
    EXPECT_EQ(value.value, 60u);
    EXPECT_TRUE(link_->ReadFieldElement(kRoot, 101, 0, 30, 8, value));
    EXPECT_FALSE(link_->ReadFieldElement(kRoot, 101, 0, 30, 9, value)) << "past the field";
    EXPECT_FALSE(link_->ReadFieldElement(kRoot, 101, 0, 30, 0, value));
    ASSERT_TRUE(link_->ReadFieldElement(kRoot, 101, 0, 31, 2, value));
    EXPECT_EQ(value.kind, 2);
    EXPECT_EQ(value.value, 0x013Cu);
    EXPECT_TRUE(link_->ReadFieldElement(kRoot, 101, 0, 31, 5, value));
    EXPECT_FALSE(link_->ReadFieldElement(kRoot, 101, 0, 31, 6, value));

    // Version lines compare the low 8 bits of the element.
    const auto line = [](const char* text) { return std::string(text); };
    EXPECT_EQ(link_->DetectVersion({line("20480/101/0/30/5=60")}), 60);
    EXPECT_EQ(link_->DetectVersion({line("20480/101/0/31/2=60")}), 60);
    EXPECT_EQ(link_->DetectVersion({line("20480/101/0/31/3=52,53")}), 53);
    EXPECT_EQ(link_->DetectVersion({line("20480/101/0/31/3=x, 999 ,53")}), 53)
        << "candidates that are not numbers 0..255 are skipped";
    EXPECT_EQ(link_->DetectVersion({line("20480/101/0/30/5=45"), line("20480/101/0/30/4=4")}), 4);
    EXPECT_EQ(link_->DetectVersion({
                  line("70000/101/0/30/5=60"),  // root out of range
                  line("20480/101/0/30=60"),    // no element
                  line("20480/101/0/30/0=60"),  // element 0
                  line("20480/101/0/30/5"),     // no candidates
                  line("20480/101/x/30/5=60"),
                  line("20480/101/0/77/1=0"),  // no such field
              }),
              0);
}

TEST_F(Directory, StoredFieldsAndTheirErrors) {
    Groups({{230, 1, 0x5100}, {101, 0, 0x5200}});
    // Two IEEE floats, 1.0 and -1.0, low byte first.
    Entry(0x5100, 30, 0x80, 0x5109, 0x40, 0x5120, {0x60, 0x00, 0x00, 0x08});
    Poke(0x6000, {0x00, 0x00, 0x80, 0x3F, 0x00, 0x00, 0x80, 0xBF});
    Entry(0x5120, 31, 0x80, 0x5129, 0x40, 0x5140, {0x61, 0x00, 0x01, 0x2C});  // 300 bytes
    Entry(0x5140, 32, 0x80, 0x5149, 0x40, 0, {0x62, 0x00, 0x01, 0x00});       // 256 bytes
    Entry(0x5200, 58, 0x80, 0x5209, 0x40, 0, {0x63, 0x00, 0x00, 0x04});
    const std::string text(W1251("Дом1"));
    Poke(0x6300, Bytes(text.begin(), text.end()));

    testsupport::ScratchFolder folder;
    const auto path = folder.Path() / "dat";
    {
        auto file = protocol::DataFile::Create(path);
        link_->StoreDataField(*file, kRoot, 230, 1, 30, {1, 2, 3, 4, 5}, true, false);
        link_->StoreDataField(*file, kRoot, 101, 0, 58, {6, 7, 8, 9, 10}, false, true);
        link_->textIsWindows = true;
        link_->StoreDataField(*file, kRoot, 101, 0, 58, {6, 7, 8, 9, 10}, false, true);
        const unsigned before = device_.Stats().readFrames;
        link_->StoreDataField(*file, kRoot, 230, 1, 32, {1, 1, 1, 1, 1}, false, false);
        // Root, group, three entries with two next pointers, the location, then the whole
        // field in one request.
        EXPECT_EQ(device_.Stats().readFrames - before, 9u);

        EXPECT_EQ(
            ErrorOf([&] { link_->StoreDataField(*file, kRoot, 230, 1, 99, {}, false, false); }),
            std::string(W1251("Поле данных 20480/230/1/99 не найдено.")));
        EXPECT_EQ(
            ErrorOf([&] { link_->StoreDataField(*file, kRoot, 230, 1, 31, {}, false, false); }),
            std::string(
                W1251("Размер поля данных 20480/230/1/31 = 300\r\n(больше максимального = 256)")));
    }
    std::ifstream in(path, std::ios::binary);
    const Bytes file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const Bytes numbers = {0x00, 0x0E, 5,    1,    2,    3,    4,    5,
                           0x00, 0x00, 0x01, 0x81, 0x9A, 0x99, 0x98, 0x81};
    ASSERT_GE(file.size(), numbers.size() + 24);
    EXPECT_EQ(Bytes(file.begin(), file.begin() + 16), numbers);
    // The address text as it is, then in the OEM code page (Д = 0x84 in 866).
    EXPECT_EQ(Bytes(file.begin() + 16 + 8, file.begin() + 16 + 12),
              Bytes(text.begin(), text.end()));
    EXPECT_EQ(Bytes(file.begin() + 28 + 8, file.begin() + 28 + 12), (Bytes{0x84, 0xAE, 0xAC, '1'}));
    EXPECT_EQ(file.size(), 16u + 12u + 12u + 8u + 256u);
}

TEST(TextEncoding, DeviceSectionWithVersionElseTheTypeAlone) {
    platform::IniFile settings;
    settings.Parse(
        std::string(W1251("[Чтение данных из TV540]\nтип=TV540W\n"
                          "[TV540W]\nкодировка текста=windows\n"
                          "[TV540W версия 53]\nкодировка текста=Windows\n")));
    emulators::HcDevice device{emulators::HcConfig{}};
    testsupport::DirectModem modem(device);
    auto link = testsupport::DirectLink(modem);
    link->SelectTextEncoding(settings, 60, W1251("Чтение данных из TV540"));
    EXPECT_TRUE(link->textIsWindows) << "no section for version 60: the type's own";
    link->SelectTextEncoding(settings, 53, W1251("Чтение данных из TV540"));
    EXPECT_FALSE(link->textIsWindows) << "only the exact word counts";
    link->SelectTextEncoding(settings, 60, W1251("Чтение данных из УПД"));
    EXPECT_FALSE(link->textIsWindows) << "no type: an empty section name";
}

TEST(DeviceClock, DatesAndBcd) {
    EXPECT_TRUE(protocol::IsValidDate(29, 2, 4));
    EXPECT_FALSE(protocol::IsValidDate(29, 2, 3));
    EXPECT_FALSE(protocol::IsValidDate(31, 4, 26));
    EXPECT_FALSE(protocol::IsValidDate(0, 1, 26));
    EXPECT_FALSE(protocol::IsValidDate(1, 13, 26));
    EXPECT_EQ(protocol::FromBcd(0x59), 59);
    EXPECT_EQ(protocol::ToBcd(7), 0x07);
    // Stepping back over a leap February and a year that wraps.
    protocol::DeviceDate date{1, 3, 4};
    date = protocol::DayBefore(date);
    EXPECT_EQ(date.day, 29);
    EXPECT_EQ(date.month, 2);
    date = protocol::DayBefore({1, 1, 0});
    EXPECT_EQ(date.day, 31);
    EXPECT_EQ(date.month, 12);
    EXPECT_EQ(date.year, 255);
    date = protocol::MonthBefore({31, 3, 3});
    EXPECT_EQ(date.day, 28);
    date = protocol::MonthAfter({15, 12, 255});
    EXPECT_EQ(date.month, 1);
    EXPECT_EQ(date.year, 0);
}

TEST(DeviceClock, ReadAndCheckedAsAReadingNeedsIt) {
    auto config = emulators::HcConfig{};
    config.clockEpoch = 1733580000;  // 2024-12-07 14:00:00
    emulators::HcDevice device(config);
    testsupport::DirectModem modem(device);
    auto link = testsupport::DirectLink(modem);
    const protocol::DeviceClock clock = link->ReadClockOrRaise(true);
    EXPECT_EQ(clock.day, 7);
    EXPECT_EQ(clock.month, 12);
    EXPECT_EQ(clock.year, 24);
    EXPECT_EQ(clock.hour, 14);
    EXPECT_EQ(clock.bcd[3], 0x07);
    EXPECT_EQ(clock.bcd[5], 0x24);
}

}  // namespace
