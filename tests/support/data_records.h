// Data-file records written by hand for tests: length (high byte first), tag length 5, the
// tag, the data.
#pragma once

#include <cstddef>
#include <initializer_list>
#include <string>

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

}  // namespace testsupport
