#include "updtools/upd_link.h"

#include <cctype>
#include <limits>
#include <numeric>

namespace updtools {

namespace {

constexpr std::uint8_t kAck[3] = {0x00, 0x50, 0x50};

std::uint8_t Sum(const std::uint8_t* bytes, std::size_t count) {
    return static_cast<std::uint8_t>(std::accumulate(bytes, bytes + count, 0u));
}

}  // namespace

std::array<std::uint8_t, kCommandSize> CommandBytes(UpdCommand command) {
    std::array<std::uint8_t, kCommandSize> bytes{0x03, 0x01, 0x00,
                                                 static_cast<std::uint8_t>(command), 0};
    bytes[4] = Sum(bytes.data(), 4);
    return bytes;
}

bool IsEndOfList(const Reply& reply) {
    return reply.size() >= 3 && reply[0] == kAck[0] && reply[1] == kAck[1] && reply[2] == kAck[2];
}

bool AnyAcknowledgementByte(const Reply& reply) {
    for (std::size_t i = 0; i < 3 && i < reply.size(); ++i) {
        if (reply[i] == kAck[i]) {
            return true;
        }
    }
    return false;
}

bool IsWholeReply(const Reply& reply) {
    return reply.size() == kReplySize && Sum(reply.data(), kReplySize - 1) == reply.back();
}

std::string EntryName(const Reply& reply) {
    std::string name;
    for (std::size_t i = kPayloadOffset; i < kPayloadOffset + kPayloadSize && i < reply.size();
         ++i) {
        if (reply[i] == 0) {
            break;
        }
        // A line end would split the catalog line and give the rest an archive number of its own.
        const bool lineEnd = reply[i] == '\r' || reply[i] == '\n';
        name.push_back(lineEnd ? '?' : static_cast<char>(reply[i]));
    }
    return name;
}

platform::CommTimeouts UpdTimeouts(std::uint32_t t) {
    platform::CommTimeouts timeouts;
    timeouts.readIntervalTimeout = t;
    timeouts.readTotalTimeoutMultiplier = t / 10;
    timeouts.readTotalTimeoutConstant = t;
    timeouts.writeTotalTimeoutMultiplier = t / 10;
    timeouts.writeTotalTimeoutConstant = t;
    return timeouts;
}

bool IsUpdSpeed(long long baud) {
    for (long long speed : {1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200}) {
        if (baud == speed) {
            return true;
        }
    }
    return false;
}

long long ParseNumber(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i])) != 0) {
        ++i;
    }
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    constexpr long long kLimit = std::numeric_limits<long long>::max();
    long long value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        const int digit = text[i] - '0';
        value = value > (kLimit - digit) / 10 ? kLimit : value * 10 + digit;
    }
    return negative ? -value : value;
}

UpdPort::UpdPort(std::unique_ptr<platform::SerialPort> port) : port_(std::move(port)) {}

std::unique_ptr<UpdPort> UpdPort::Open(int portNumber) {
    std::unique_ptr<platform::SerialPort> port =
        platform::SerialPort::Open("COM" + std::to_string(portNumber));
    if (port == nullptr) {
        return nullptr;
    }
    return std::unique_ptr<UpdPort>(new UpdPort(std::move(port)));
}

UpdPort::~UpdPort() {
    platform::DeviceControl dcb;
    if (configured_ && port_->GetCommState(dcb)) {
        dcb.fDtrControl = platform::kLineDisable;
        dcb.fRtsControl = platform::kLineDisable;
        (void)port_->SetCommState(dcb);
    }
}

bool UpdPort::SetTimeouts(std::uint32_t t) {
    return port_->SetCommTimeouts(UpdTimeouts(t));
}

bool UpdPort::Setup(std::uint32_t baud, LineSetup setup) {
    platform::DeviceControl dcb;
    if (!port_->GetCommState(dcb)) {
        return false;
    }
    dcb.baudRate = baud;
    dcb.byteSize = 8;
    dcb.parity = platform::kMarkParity;
    dcb.stopBits = platform::kTwoStopBits;
    dcb.fDtrControl = platform::kLineEnable;
    dcb.fRtsControl = platform::kLineEnable;
    if (setup == LineSetup::kCatalogReader) {
        dcb.fBinary = true;
        dcb.fParity = true;
        dcb.fOutxCtsFlow = false;
        dcb.fOutxDsrFlow = false;
        dcb.fOutX = false;
        dcb.fInX = false;
        dcb.fNull = false;
        dcb.fAbortOnError = false;
        dcb.xonLim = 0;
        dcb.xoffLim = 0;
        dcb.xonChar = 0;
        dcb.xoffChar = 0;
    }
    configured_ = port_->SetCommState(dcb);
    return configured_;
}

bool UpdPort::Send(UpdCommand command) {
    const std::array<std::uint8_t, kCommandSize> bytes = CommandBytes(command);
    std::size_t done = 0;
    return port_->Write(bytes.data(), bytes.size(), done) && done == bytes.size();
}

Reply UpdPort::Receive() {
    Reply reply(kReplySize);
    std::size_t done = 0;
    if (!port_->Read(reply.data(), reply.size(), done)) {
        return {};
    }
    reply.resize(done);
    return reply;
}

Reply UpdPort::Exchange(UpdCommand command) {
    if (!Send(command)) {
        return {};
    }
    return Receive();
}

}  // namespace updtools
