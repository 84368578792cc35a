// The connection of one reading: the COM port of a multi-drop line, or a modem call through the
// modem library. Either way the protocol talks through the frame link it gives.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/event.h"

#include "platform/serial_port.h"
#include "protocol/frame_link.h"
#include "protocol/modem_link.h"
#include "protocol/serial_link.h"
#include "reading/device_link_settings.h"

namespace reading {

class ModemLibrary;

struct ConnectionSettings {
    bool useModem = false;
    std::string phoneNumber;
    std::uint32_t connectTimeout = 120;  // seconds
    std::string portName;
    std::uint32_t baudRate = 9600;
};

// The connection part of them; negative numbers count as 0.
ConnectionSettings ConnectionOf(const DeviceLinkSettings& settings);

class HcConnection {
  public:
    // `modem` may be null (no library): a modem connection then fails with its own text.
    HcConnection(ConnectionSettings settings, ModemLibrary* modem);
    ~HcConnection();  // disconnects
    HcConnection(const HcConnection&) = delete;
    HcConnection& operator=(const HcConnection&) = delete;

    // Raises ProtocolError with the operator's text when the connection cannot be made. A dial
    // ends early when one of `stops` is set (then the text is "Соединение не установлено.").
    void Connect(const std::vector<const platform::Event*>& stops = {});
    // Ends the call or closes the port; nothing when not connected. Never throws.
    void Disconnect();

    bool Connected() const { return port_ != nullptr || handle_ != 0; }
    bool UsesModem() const { return settings_.useModem; }
    // Valid while connected.
    protocol::FrameLink& Link();

  private:
    void OpenPort();
    void Call(const std::vector<const platform::Event*>& stops);

    ConnectionSettings settings_;
    ModemLibrary* modem_;
    std::uint32_t slot_;
    // The call's handle, the sign that the call stands.
    std::uintptr_t handle_ = 0;
    bool callPlaced_ = false;
    platform::DeviceControl deviceControl_;
    std::unique_ptr<platform::SerialPort> port_;
    std::unique_ptr<protocol::SerialLink> serialLink_;
    std::unique_ptr<protocol::ModemLink> modemLink_;
};

}  // namespace reading
