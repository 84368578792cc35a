#include "reading/hc_connection.h"

#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <thread>
#include <utility>

#include "platform/cp1251_literal.h"
#include "protocol/protocol_error.h"
#include "protocol/utv540.h"
#include "reading/modem_library.h"
#include "reading/ureadhc.h"

namespace reading {

ConnectionSettings ConnectionOf(const DeviceLinkSettings& settings) {
    ConnectionSettings connection;
    connection.useModem = settings.useModem;
    connection.phoneNumber = settings.phoneNumber;
    connection.connectTimeout =
        settings.connectTimeout < 0 ? 0u : static_cast<std::uint32_t>(settings.connectTimeout);
    connection.portName = settings.portName;
    connection.baudRate =
        settings.baudRate < 0 ? 0u : static_cast<std::uint32_t>(settings.baudRate);
    return connection;
}
namespace {

constexpr std::uint32_t kMinRate = 9600;
constexpr std::uint32_t kMaxRate = 56000;

[[noreturn]] void RaiseNotConnected(std::string_view why = {}) {
    std::string text(W1251("Соединение не установлено."));
    text += why;
    throw protocol::ProtocolError(text);
}

}  // namespace

HcConnection::HcConnection(ConnectionSettings settings, ModemLibrary* modem)
    : settings_(std::move(settings)), modem_(modem), slot_(ModemSlotOf(settings_.portName)) {}

HcConnection::~HcConnection() {
    Disconnect();
}

void HcConnection::Connect(const std::vector<const platform::Event*>& stops) {
    if (settings_.useModem) {
        Call(stops);
    } else {
        OpenPort();
    }
}

void HcConnection::OpenPort() {
    port_ = protocol::OpenDevicePort(settings_.portName, settings_.baudRate, deviceControl_);
    if (!port_ && errno == EPROTONOSUPPORT) {
        RaiseNotConnected(protocol::FixedLinePortText(settings_.portName));
    }
    if (!port_) {
        RaiseNotConnected();
    }
    serialLink_ = std::make_unique<protocol::SerialLink>(*port_, deviceControl_);
}

// While the library dials, a watcher hangs up when a stop comes; the library then ends the dial
// at once instead of at its time-out. It hangs up again until the dial has ended, in case the
// first one came before the library waited for the call.
class DialWatch {
  public:
    DialWatch(ModemLibrary& modem, std::uint32_t slot, std::vector<const platform::Event*> stops)
        : modem_(modem), slot_(slot), stops_(std::move(stops)) {
        if (!stops_.empty()) {
            thread_ = std::thread([this] { Watch(); });
        }
    }
    ~DialWatch() {
        dialEnded_.Set();
        if (thread_.joinable()) {
            thread_.join();
        }
    }
    DialWatch(const DialWatch&) = delete;
    DialWatch& operator=(const DialWatch&) = delete;

  private:
    void Watch() {
        std::vector<pollfd> fds{{dialEnded_.Fd(), POLLIN, 0}};
        for (const platform::Event* stop : stops_) {
            fds.push_back({stop->Fd(), POLLIN, 0});
        }
        bool stopped = false;
        while (!dialEnded_.IsSet()) {
            if (::poll(fds.data(), fds.size(), stopped ? 100 : -1) < 0 && errno != EINTR) {
                return;
            }
            for (std::size_t i = 1; i < fds.size(); ++i) {
                stopped = stopped || (fds[i].revents & POLLIN) != 0;
            }
            if (stopped && !dialEnded_.IsSet()) {
                fds.resize(1);
                modem_.ModemDisconnect(slot_);
            }
        }
    }

    ModemLibrary& modem_;
    std::uint32_t slot_;
    std::vector<const platform::Event*> stops_;
    platform::Event dialEnded_{platform::Event::Kind::kManualReset};
    std::thread thread_;
};

void HcConnection::Call(const std::vector<const platform::Event*>& stops) {
    if (settings_.phoneNumber.empty()) {
        RaiseNotConnected(W1251("\r\nНе задан номер телефона."));
    }
    if (modem_ == nullptr || !modem_->Loaded()) {
        RaiseNotConnected(W1251("\r\nНе найдена библиотека libtarvex.so."));
    }
    // Whatever the answer, a call may have been started: Disconnect ends it.
    callPlaced_ = true;
    bool connected = false;
    {
        const DialWatch watch(*modem_, slot_, stops);
        connected = modem_->ModemConnect(slot_, settings_.phoneNumber, kMinRate, kMaxRate,
                                         settings_.connectTimeout, 1) == 1;
    }
    const bool stopped = std::any_of(stops.begin(), stops.end(),
                                     [](const platform::Event* stop) { return stop->IsSet(); });
    if (connected && !stopped) {
        handle_ = modem_->ModemGetCommHandle(slot_);
    }
    if (handle_ == 0) {
        RaiseNotConnected();
    }
    modemLink_ = std::make_unique<protocol::ModemLink>(slot_, handle_, modem_->Exports());
}

void HcConnection::Disconnect() {
    serialLink_.reset();
    modemLink_.reset();
    port_.reset();
    if (callPlaced_) {
        callPlaced_ = false;
        modem_->ModemDisconnect(slot_);
    }
    handle_ = 0;
}

protocol::FrameLink& HcConnection::Link() {
    if (modemLink_) {
        return *modemLink_;
    }
    if (serialLink_) {
        return *serialLink_;
    }
    return protocol::UnconnectedLink();
}

}  // namespace reading
