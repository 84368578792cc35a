#include "platform/telnet_com_port.h"

namespace platform::telnet {
namespace {

// Options the client takes on either side; it refuses every other.
bool Wanted(std::uint8_t option) {
    return option == kBinary || option == kSuppressGoAhead || option == kComPortOption;
}

// Sub-negotiations longer than any COM-port reply are cut, so a broken server cannot grow it.
constexpr std::size_t kLongestSub = 64;

}  // namespace

void AppendData(std::vector<std::uint8_t>& out, const std::uint8_t* bytes, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        out.push_back(bytes[i]);
        if (bytes[i] == kIac) {
            out.push_back(kIac);
        }
    }
}

void AppendComPortCommand(std::vector<std::uint8_t>& out, std::uint8_t command,
                          const std::vector<std::uint8_t>& value) {
    out.insert(out.end(), {kIac, kSb, kComPortOption, command});
    AppendData(out, value.data(), value.size());
    out.insert(out.end(), {kIac, kSe});
}

std::vector<std::uint8_t> ClientGreeting() {
    return {kIac, kWill, kComPortOption,   kIac, kWill, kBinary,         kIac, kDo, kBinary,
            kIac, kWill, kSuppressGoAhead, kIac, kDo,   kSuppressGoAhead};
}

Decoder::Decoder() {
    // What ClientGreeting() has asked for counts as on until the server says otherwise.
    ourSide_[kComPortOption] = ourSide_[kBinary] = ourSide_[kSuppressGoAhead] = true;
    theirSide_[kBinary] = theirSide_[kSuppressGoAhead] = true;
}

void Decoder::Feed(const std::uint8_t* in, std::size_t count, std::vector<std::uint8_t>& data) {
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t byte = in[i];
        switch (state_) {
            case State::kData:
                if (byte == kIac) {
                    state_ = State::kAfterIac;
                } else {
                    data.push_back(byte);
                }
                break;
            case State::kAfterIac:
                if (byte == kIac) {
                    data.push_back(kIac);
                    state_ = State::kData;
                } else if (byte >= kWill) {
                    verb_ = byte;
                    state_ = State::kVerb;
                } else if (byte == kSb) {
                    sub_.clear();
                    state_ = State::kSub;
                } else {
                    state_ = State::kData;  // NOP, GA, a stray SE and the like
                }
                break;
            case State::kVerb:
                Negotiate(verb_, byte);
                state_ = State::kData;
                break;
            case State::kSub:
                if (byte == kIac) {
                    state_ = State::kSubIac;
                } else if (sub_.size() < kLongestSub) {
                    sub_.push_back(byte);
                }
                break;
            case State::kSubIac:
                if (byte == kSe) {
                    EndSub();
                    state_ = State::kData;
                } else {
                    if (byte == kIac && sub_.size() < kLongestSub) {
                        sub_.push_back(byte);
                    }
                    state_ = State::kSub;
                }
                break;
        }
    }
}

std::vector<std::uint8_t> Decoder::TakeReplies() {
    std::vector<std::uint8_t> out;
    out.swap(replies_);
    return out;
}

void Decoder::Reply(std::uint8_t verb, std::uint8_t option) {
    replies_.insert(replies_.end(), {kIac, verb, option});
}

// RFC 1143 without the queue: a request that would change an option's state is answered, one
// that confirms the present state is not, so no exchange can loop.
void Decoder::Negotiate(std::uint8_t verb, std::uint8_t option) {
    switch (verb) {
        case kDo:
            if (option == kComPortOption) {
                comPort_ = ComPort::kAccepted;
            }
            if (!ourSide_[option]) {
                ourSide_[option] = Wanted(option);
                Reply(ourSide_[option] ? kWill : kWont, option);
            }
            break;
        case kDont:
            if (option == kComPortOption) {
                comPort_ = ComPort::kRefused;
            }
            if (ourSide_[option]) {
                ourSide_[option] = false;
                Reply(kWont, option);
            }
            break;
        case kWill:
            // Above all ECHO is refused: the line's bytes must not come back.
            if (!theirSide_[option]) {
                theirSide_[option] = Wanted(option) && option != kComPortOption;
                Reply(theirSide_[option] ? kDo : kDont, option);
            }
            break;
        default:  // kWont
            if (theirSide_[option]) {
                theirSide_[option] = false;
                Reply(kDont, option);
            }
            break;
    }
}

void Decoder::EndSub() {
    if (sub_.size() >= 3 && sub_[0] == kComPortOption &&
        sub_[1] == kServerReply + kNotifyModemState) {
        modemState_ = sub_[2];
    }
}

}  // namespace platform::telnet
