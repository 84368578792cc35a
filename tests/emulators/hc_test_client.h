// Test helpers that talk to an HcDevice the way a workstation does: whole frames, the mailbox
// and the two directory layouts, written from the layouts rather than from the emulator's code.
#pragma once

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <ctime>
#include <optional>
#include <vector>

#include "emulators/hc_device.h"

namespace emulators::hctest {

using Bytes = std::vector<std::uint8_t>;

inline Bytes WithChecksum(Bytes frame) {
    unsigned sum = 0;
    for (std::uint8_t b : frame) {
        sum += b;
    }
    frame.push_back(static_cast<std::uint8_t>(sum));
    return frame;
}

// Talks to the device the way a workstation does, through whole frames, and checks every
// answer's head and checksum.
class Client {
  public:
    explicit Client(HcDevice& device) : device_(device) {}

    Bytes Read(std::uint16_t address, unsigned count) {
        const Bytes request = WithChecksum(
            {device_.Address(), 0x08, 0x02, static_cast<std::uint8_t>(address >> 8),
             static_cast<std::uint8_t>(address), static_cast<std::uint8_t>(count - 1)});
        const auto answer = device_.HandleFrame(request);
        if (!answer || answer->size() != count + 4) {
            ADD_FAILURE() << "no valid answer to a read of " << count << " at " << address;
            return Bytes(count, 0);
        }
        EXPECT_EQ((*answer)[0], 0x00);
        EXPECT_EQ((*answer)[1], 0x00);
        EXPECT_EQ((*answer)[2], count - 1);
        EXPECT_EQ(WithChecksum(Bytes(answer->begin(), answer->end() - 1)), *answer);
        return Bytes(answer->begin() + 3, answer->end() - 1);
    }

    void Write(std::uint16_t address, const Bytes& data) {
        Bytes request{device_.Address(), 0x09, static_cast<std::uint8_t>(data.size() + 1),
                      static_cast<std::uint8_t>(address >> 8), static_cast<std::uint8_t>(address)};
        request.insert(request.end(), data.begin(), data.end());
        const auto answer = device_.HandleFrame(WithChecksum(request));
        ASSERT_TRUE(answer.has_value());
        EXPECT_EQ(*answer, (Bytes{0x00, 0x50, 0x50}));
    }

    // Clear the status, write the command, poll the answer area until its status is set.
    Bytes Command(const Bytes& command, unsigned answerLength) {
        Write(kAnswerArea, {0x00});
        Write(kCommandArea, command);
        for (int poll = 0; poll < 20; ++poll) {
            Bytes answer = Read(kAnswerArea, answerLength);
            if (answer[0] != 0) {
                return answer;
            }
        }
        ADD_FAILURE() << "the command never answered";
        return {};
    }

  private:
    HcDevice& device_;
};

// The device's number form: D / 10^6 * 10^(e + 1); three BCD bytes, least significant first.
inline double DecodeNumber(const Bytes& r, std::size_t at) {
    auto bcd = [](std::uint8_t b) { return (b >> 4) * 10 + (b & 0x0F); };
    const double digits = bcd(r[at + 2]) * 10000.0 + bcd(r[at + 1]) * 100.0 + bcd(r[at]);
    const int e = r[at + 3] - 128;
    return digits / 1e6 * std::pow(10.0, e + 1);
}

inline float FloatAt(const Bytes& bytes, std::size_t at) {
    const std::uint32_t bits = bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 |
                               static_cast<std::uint32_t>(bytes[at + 3]) << 24;
    return std::bit_cast<float>(bits);
}

inline long long Utc(int year, int month, int day, int hour, int minute, int second) {
    std::tm tm{};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    tm.tm_sec = second;
    return static_cast<long long>(timegm(&tm));
}

// ---- Directory walkers, written from the two layouts -----------------------------------------

struct Location {
    std::uint16_t address = 0;
    std::uint16_t size = 0;
    std::uint8_t flags = 0;
    int layoutCase = 0;  // 1: bit 7 clear, 2: bit 7 set + layout 00, 3: layout 01
};

// Root 302: group table of 8-byte entries ended by group 0xFF; 5-byte field entries chained
// through the 2 bytes at their end address.
inline std::optional<Location> FindInDeviceDirectory(Client& c, std::uint8_t group,
                                                     std::uint8_t subgroup, std::uint8_t field) {
    const Bytes root = c.Read(kDeviceDirectoryRoot, 2);
    std::uint16_t g = static_cast<std::uint16_t>(root[0] | root[1] << 8);
    std::uint16_t entry = 0;
    for (int i = 0;; ++i, g = static_cast<std::uint16_t>(g + 8)) {
        if (i == 255) {
            return std::nullopt;
        }
        const Bytes row = c.Read(g, 4);
        if (row[0] == 0xFF) {
            return std::nullopt;
        }
        if (row[0] == group && row[1] == subgroup) {
            entry = static_cast<std::uint16_t>(row[2] << 8 | row[3]);
            break;
        }
    }
    for (int i = 0; i < 255; ++i) {
        const Bytes e = c.Read(entry, 5);
        const unsigned end = e[2] << 8 | e[3];
        if (e[0] == field) {
            Location loc;
            loc.flags = e[1];
            if ((e[1] & 0x80) == 0) {
                loc = {static_cast<std::uint16_t>(entry + 4),
                       static_cast<std::uint16_t>(end - entry - 4), e[1], 1};
            } else if ((e[4] & 0xC0) == 0x00) {
                loc = {static_cast<std::uint16_t>(entry + 5),
                       static_cast<std::uint16_t>(end - entry - 5), e[1], 2};
            } else if ((e[4] & 0xC0) == 0x40) {
                const Bytes more = c.Read(static_cast<std::uint16_t>(entry + 5), 4);
                loc = {static_cast<std::uint16_t>(more[0] << 8 | more[1]),
                       static_cast<std::uint16_t>(more[2] << 8 | more[3]), e[1], 3};
            } else {
                return std::nullopt;
            }
            return loc.size == 0 ? std::nullopt : std::optional(loc);
        }
        const Bytes next = c.Read(static_cast<std::uint16_t>(end), 2);
        entry = static_cast<std::uint16_t>(next[0] << 8 | next[1]);
        if (entry == 0) {
            return std::nullopt;
        }
    }
    return std::nullopt;
}

}  // namespace emulators::hctest
