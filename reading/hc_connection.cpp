#include "reading/hc_connection.h"

#include <utility>

#include "platform/cp1251_literal.h"
#include "protocol/protocol_error.h"
#include "protocol/utv540.h"
#include "reading/modem_library.h"
#include "reading/ureadhc.h"

namespace reading {
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

void HcConnection::Connect() {
    if (settings_.useModem) {
        Call();
    } else {
        OpenPort();
    }
}

void HcConnection::OpenPort() {
    port_ = protocol::OpenDevicePort(settings_.portName, settings_.baudRate, deviceControl_);
    if (!port_) {
        RaiseNotConnected();
    }
    serialLink_ = std::make_unique<protocol::SerialLink>(*port_, deviceControl_);
}

void HcConnection::Call() {
    if (settings_.phoneNumber.empty()) {
        RaiseNotConnected(W1251("\r\nНе задан номер телефона."));
    }
    if (modem_ == nullptr || !modem_->Loaded()) {
        RaiseNotConnected(W1251("\r\nНе найдена библиотека libtarvex.so."));
    }
    // Whatever the answer, a call may have been started: Disconnect ends it.
    callPlaced_ = true;
    if (modem_->ModemConnect(slot_, settings_.phoneNumber, kMinRate, kMaxRate,
                             settings_.connectTimeout, 1) == 1) {
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
