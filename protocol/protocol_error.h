#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

namespace protocol {

// A failure of a reading, raised with the message the operator sees. The text is Windows-1251.
class ProtocolError : public std::runtime_error {
  public:
    explicit ProtocolError(std::string_view text1251) : std::runtime_error(std::string(text1251)) {}
};

}  // namespace protocol
