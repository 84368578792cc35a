// quellar on lines paced like real hardware, at the rates installations use and with the
// time-out the port set-up prescribes for each: the data file must hold every answer whole.
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "emulators/hc_device.h"
#include "protocol/utv540.h"
#include "reader/quellar_run.h"
#include "tests/emulators/hc_test_client.h"
#include "tests/support/data_records.h"
#include "tests/support/emulated_port.h"
#include "tests/support/scratch_folder.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
namespace fs = std::filesystem;

const Bytes kStartText = {0x30, 0x30, 0x35, 0x2D, 0x30, 0x30, 0x31, 0x2D, 0x30, 0x30, 0x31};

void Append(Bytes& file, const Bytes& tags, const Bytes& data) {
    testsupport::AppendRecord(file, tags, data);
}

Bytes After(const Bytes& answer, std::size_t n) {
    return Bytes(answer.begin() + 1, answer.begin() + 1 + static_cast<std::ptrdiff_t>(n));
}

// The device's field bytes, read the way the directory at 302 gives them.
Bytes Field(emulators::hctest::Client& twin, std::uint8_t group, std::uint8_t subgroup,
            std::uint8_t field) {
    const auto where = emulators::hctest::FindInDeviceDirectory(twin, group, subgroup, field);
    return where ? twin.Read(where->address, where->size) : Bytes{};
}

// What the list below must give, worked out from a twin of the device asked the same things
// in the same order, and from the record layouts.
Bytes ExpectedFile(const emulators::HcConfig& config) {
    emulators::HcDevice device(config);
    emulators::hctest::Client twin(device);
    Bytes file;
    Append(file, {255, 0, 53, 65, 0}, kStartText);
    Append(file, {230, 0, 40, 64, 0}, Field(twin, 101, 0, 40));
    Append(file, {230, 0, 57, 64, 0}, Field(twin, 101, 0, 57));
    for (const Bytes& command : {Bytes{53, 0, 0}, Bytes{53, 0, 0}}) {
        (void)twin.Command(command, 1);  // status only: answers of one byte
    }
    Append(file, {230, 1, 53, 64, 0}, {});
    Bytes big;
    for (int i = 0; i < 2; ++i) {
        const Bytes answer = twin.Command({40, 1, 0}, 256);
        big.insert(big.end(), answer.begin() + 1, answer.end());
    }
    Append(file, {230, 2, 40, 64, 0}, big);
    Append(file, {230, 3, 40, 64, 0}, After(twin.Command({40, 1}, 146), 145));
    Append(file, {230, 4, 53, 64, 0}, After(twin.Command({53, 0}, 9), 8));
    // The hourly archive at the stop line: 99-byte records of 90 answer bytes and a checksum.
    std::uint8_t command = 16;
    for (unsigned k = 0;; ++k) {
        const Bytes answer = twin.Command({command}, 92);
        if (answer[0] != 1) {
            break;
        }
        Bytes record = {
            0x00, 0x61, 0x05, 0x09, static_cast<std::uint8_t>(k >> 8), static_cast<std::uint8_t>(k),
            0x00, 0x01};
        record.insert(record.end(), answer.begin() + 1, answer.begin() + 91);
        unsigned sum = 0;
        for (std::uint8_t b : record) {
            sum += b;
        }
        record.push_back(static_cast<std::uint8_t>(sum));
        file.insert(file.end(), record.begin(), record.end());
        command = 15;
    }
    Append(file, {255, 1, 53, 65, 0}, kStartText);
    return file;
}

const char* const kList[] = {
    "HO_START 255 0 53 1000001 0 30 30 35 2d 30 30 31 2d 30 30 31",
    "R_SETUP &(12E),1,101,0,40,1 230 0 40 1000000 0",
    "R_IDENT &(12E),1,101,0,57,1 230 0 57 1000000 0",
    "RA_ONE 53 0 0 0 @230 1 53 1000000 0",
    "RA_ONE2 53 0 0 0",
    "RA_BIG 40 1 0 255 @230 2 40 1000000 0",
    "RA_BIG2 40 1 0 255",
    "R_PAGE 40 1 0 145 230 3 40 1000000 0",  // a 150-byte answer: the whole room
    "R_NUMBER 53 0 0 8 230 4 53 1000000 0",  // a short answer: ends on the interval time-out
    "HO_STOP 255 1 53 1000001 0 30 30 35 2d 30 30 31 2d 30 30 31",
};

class PacedLines : public testing::TestWithParam<std::uint32_t> {};

std::string RateName(const testing::TestParamInfo<std::uint32_t>& rate) {
    return std::to_string(rate.param) + "Bd";
}

INSTANTIATE_TEST_SUITE_P(Rates, PacedLines, testing::Values(1200u, 2400u, 9600u, 38400u), RateName);

TEST_P(PacedLines, EveryAnswerIsStoredWhole) {
    emulators::HcConfig config = testsupport::Device();
    config.hourlyRecords = 2;
    testsupport::EmulatedPort emulated(6, {config}, testsupport::PatientLine());
    testsupport::ScratchFolder folder;
    const fs::path list = folder.Path() / "paced.opr";
    const fs::path output = folder.Path() / "paced.dat";
    {
        std::ofstream out(list, std::ios::binary);
        for (const char* line : kList) {
            out << line << "\r\n";
        }
    }
    const std::string timeout = std::to_string(protocol::BaseTimeoutForBaud(GetParam()));
    std::FILE* sink = std::tmpfile();
    ASSERT_NE(sink, nullptr);
    reader::QuellarOptions options;
    options.retryWaitMs = 0;
    const int exitCode = reader::RunQuellar(
        {"6", std::to_string(GetParam()), "1", timeout, "1", list.string(), output.string()},
        options, sink);
    std::string printed;
    std::rewind(sink);
    for (int c = std::fgetc(sink); c != EOF; c = std::fgetc(sink)) {
        printed.push_back(static_cast<char>(c));
    }
    std::fclose(sink);
    ASSERT_EQ(exitCode, 0) << "the end of what quellar printed:\n"
                           << printed.substr(printed.size() -
                                             std::min<std::size_t>(printed.size(), 2000));

    std::ifstream in(output, std::ios::binary);
    const Bytes written{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    EXPECT_EQ(written, ExpectedFile(config));
    EXPECT_EQ(emulated.Device().Stats().badFrames, 0u);
}

}  // namespace
