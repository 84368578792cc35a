// Data-file records written by hand for tests: length (high byte first), tag length 5, the
// tag, the data.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

namespace testsupport {

inline std::string Record(std::initializer_list<unsigned> tag, const std::string& data) {
    std::string payload(1, '\x05');
    for (unsigned byte : tag) {
        payload += static_cast<char>(byte);
    }
    payload += data;
    const std::size_t n = payload.size();
    return std::string{static_cast<char>(n >> 8), static_cast<char>(n & 0xFF)} + payload;
}

// The same record appended to a file's bytes.
inline void AppendRecord(std::vector<std::uint8_t>& file, const std::vector<std::uint8_t>& tag,
                         const std::vector<std::uint8_t>& data) {
    const std::size_t length = tag.size() + 1 + data.size();
    file.push_back(static_cast<std::uint8_t>(length >> 8));
    file.push_back(static_cast<std::uint8_t>(length));
    file.push_back(5);
    file.insert(file.end(), tag.begin(), tag.end());
    file.insert(file.end(), data.begin(), data.end());
}

}  // namespace testsupport
