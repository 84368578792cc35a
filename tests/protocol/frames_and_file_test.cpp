#include <fstream>
#include <iterator>
#include <vector>

#include <gtest/gtest.h>

#include "platform/cp1251_literal.h"
#include "protocol/data_file.h"
#include "protocol/frames.h"
#include "protocol/protocol_error.h"
#include "tests/support/emulated_port.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes ReadAll(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST(Frames, ReadRequestsCarryCountMinusOneAndChecksum) {
    EXPECT_EQ(protocol::BuildReadRequest(1, 0x1020, 2),
              (Bytes{0x01, 0x08, 0x02, 0x10, 0x20, 0x01, 0x3C}));
    EXPECT_EQ(protocol::BuildReadRequest(1, 0x1020, 1)[5], 0x00);
    EXPECT_EQ(protocol::BuildReadRequest(1, 0x1020, 256)[5], 0xFF);
    EXPECT_EQ(protocol::ReadAnswerLength(256), 260u);
}

TEST(Frames, WriteRequestsCountParameterBytes) {
    const Bytes one = protocol::BuildWriteRequest(3, 0x1080, Bytes{0x00});
    EXPECT_EQ(one, (Bytes{0x03, 0x09, 0x02, 0x10, 0x80, 0x00, 0x9E}));
    const Bytes full = protocol::BuildWriteRequest(3, 0x1000, Bytes(254, 0x11));
    EXPECT_EQ(full.size(), 260u);
    EXPECT_EQ(full[2], 0xFF);
}

TEST(Frames, AnswersAreCheckedWhole) {
    const Bytes good = {0x00, 0x00, 0x01,
                        0xAB, 0xCD, static_cast<std::uint8_t>(0x01 + 0xAB + 0xCD)};
    EXPECT_TRUE(protocol::IsValidReadAnswer(good, 2));
    Bytes head = good;
    head[1] = 0x01;
    head.back() = static_cast<std::uint8_t>(head.back() + 1);  // checksum still right
    EXPECT_FALSE(protocol::IsValidReadAnswer(head, 2));
    Bytes sum = good;
    sum.back() ^= 0xFF;
    EXPECT_FALSE(protocol::IsValidReadAnswer(sum, 2));
    EXPECT_FALSE(protocol::IsValidReadAnswer(Bytes(good.begin(), good.end() - 1), 2));
    EXPECT_FALSE(protocol::IsValidReadAnswer(good, 3));  // count byte must repeat the request
    EXPECT_TRUE(protocol::IsWriteAcknowledgement(Bytes{0x00, 0x50, 0x50}));
    EXPECT_FALSE(protocol::IsWriteAcknowledgement(Bytes{0x00, 0x50}));
    EXPECT_FALSE(protocol::IsWriteAcknowledgement(Bytes{0x00, 0x50, 0x51}));
}

TEST(DataFile, RecordsStartStopAndFiller) {
    testsupport::ScratchFolder folder;
    const auto path = folder.Path() / "dat1hc";
    {
        auto file = protocol::DataFile::Create(path);
        ASSERT_TRUE(file);
        protocol::WriteStartRecord(*file);
        std::uint8_t buffer[8 + 6] = {0,    0,    0,    0xE6, 0x00, 0x36, 0x11,
                                      0x00, 0x05, 0x04, 0x03, 0x07, 0x12, 0x26};
        protocol::AppendRecord(*file, 6, buffer);
        const auto filler = protocol::FillerRecord();
        ASSERT_TRUE(file->Write(filler));
        protocol::WriteStopRecord(*file);
    }
    const Bytes expected = {
        0x00, 0x11, 0x05, 0xFF, 0x00, 0x35, 0x41, 0x00, 0x30, 0x30, 0x35, 0x2D, 0x30, 0x30,
        0x31, 0x2D, 0x30, 0x30, 0x31, 0x00, 0x0C, 0x05, 0xE6, 0x00, 0x36, 0x11, 0x00, 0x05,
        0x04, 0x03, 0x07, 0x12, 0x26, 0x00, 0x10, 0,    0,    0,    0,    0,    0,    0,
        0,    0,    0,    0,    0,    0,    0,    0,    0,    0x00, 0x11, 0x05, 0xFF, 0x01,
        0x35, 0x41, 0x00, 0x30, 0x30, 0x35, 0x2D, 0x30, 0x30, 0x31, 0x2D, 0x30, 0x30, 0x31,
    };
    EXPECT_EQ(ReadAll(path), expected);
}

TEST(DataFile, CreateTruncatesAndRefusesASecondWriter) {
    testsupport::ScratchFolder folder;
    const auto path = folder.Path() / "out.dat";
    std::ofstream(path) << "old contents";
    auto first = protocol::DataFile::Create(path);
    ASSERT_TRUE(first);
    EXPECT_TRUE(ReadAll(path).empty());
    EXPECT_FALSE(protocol::DataFile::Create(path));
    first.reset();
    EXPECT_TRUE(protocol::DataFile::Create(path));
    EXPECT_FALSE(protocol::DataFile::Create(folder.Path() / "missing" / "out.dat"));
}

TEST(DataFile, AFailedWriteRaisesTheFileError) {
    auto full = protocol::DataFile::Create("/dev/full");
    ASSERT_TRUE(full);
    std::uint8_t buffer[8] = {0, 0, 0, 1, 2, 3, 4, 5};
    try {
        protocol::AppendRecord(*full, 0, buffer);
        FAIL() << "no error raised";
    } catch (const protocol::ProtocolError& error) {
        EXPECT_EQ(std::string_view(error.what()), W1251("Ошибка при записи в файл данных."));
    }
}

}  // namespace
