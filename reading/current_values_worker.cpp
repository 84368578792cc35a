#include "reading/current_values_worker.h"

#include <array>
#include <utility>

#include "platform/codepage.h"
#include "platform/cp1251_literal.h"
#include "protocol/protocol_error.h"
#include "reading/hc_connection.h"

namespace reading {
namespace {

using Clock = std::chrono::steady_clock;
using protocol::ProtocolError;

constexpr int kAttempts = 3;
constexpr std::uint32_t kPauseMs = 50;
constexpr int kMaxFailures = 6;
constexpr int kTwoPipelineVersion = 60;
constexpr std::uint16_t kRoot = 302;
constexpr unsigned kAddressTextMax = 64;
constexpr std::size_t kValuesAnswerSize = 77;
constexpr std::size_t kIdentityAnswerSize = 8;

constexpr std::string_view kLinkError = W1251("Ошибка связи.");
constexpr std::string_view kBroken = W1251("Соединение разорвано");

class ValuesWorker {
  public:
    ValuesWorker(CurrentValuesSettings settings, CurrentValuesCallbacks callbacks,
                 CurrentValuesEnvironment environment)
        : settings_(std::move(settings)),
          callbacks_(std::move(callbacks)),
          environment_(std::move(environment)),
          connection_(ConnectionOf(settings_), environment_.modem),
          control_(std::make_shared<workers::WorkerControl>()) {}

    const std::shared_ptr<workers::WorkerControl>& Control() const { return control_; }
    void Execute();

  private:
    void OnMainThread(const std::function<void()>& call) {
        workers::RunOnMain(callbacks_.runOnMainThread, call);
    }
    bool StopAsked() const {
        return control_->CancelEvent().IsSet() ||
               (environment_.stopEvent && environment_.stopEvent->IsSet());
    }
    void Status(std::string_view text) {
        OnMainThread([&] {
            if (callbacks_.status) {
                callbacks_.status(std::string(text));
            }
        });
    }
    void FieldColour(bool white) {
        OnMainThread([&] {
            if (callbacks_.fieldColour) {
                callbacks_.fieldColour(white);
            }
        });
    }

    void Read();
    std::unique_ptr<protocol::CTV540> MakeDevice();
    bool OnExchange(bool ok);
    void ReadIdentity(protocol::CTV540& device);
    void ReadAddress(protocol::CTV540& device);
    void ReadEnergyUnit(protocol::CTV540& device);
    void Poll(protocol::CTV540& device);
    void End(std::string message);

    CurrentValuesSettings settings_;
    CurrentValuesCallbacks callbacks_;
    CurrentValuesEnvironment environment_;
    HcConnection connection_;
    std::shared_ptr<workers::WorkerControl> control_;
    Clock::time_point startTime_ = Clock::now();
    int version_ = 0;
    bool connected_ = false;
    bool textIsWindows_ = false;
    bool gigajoules_ = true;
};

bool ValuesWorker::OnExchange(bool ok) {
    const bool showTime = connected_;
    const auto elapsed =
        std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - startTime_);
    OnMainThread([&] {
        if (callbacks_.exchange) {
            callbacks_.exchange(ok);
        }
        if (showTime && callbacks_.elapsed) {
            callbacks_.elapsed(elapsed);
        }
    });
    return !StopAsked();
}

std::unique_ptr<protocol::CTV540> ValuesWorker::MakeDevice() {
    auto device =
        std::make_unique<protocol::CTV540>(static_cast<std::uint8_t>(settings_.abonent & 0xFF),
                                           connection_.Link(), kAttempts, kPauseMs);
    device->SetWaits(environment_.waits);
    device->exchangeCallback = [this](bool ok) { return OnExchange(ok); };
    return device;
}

void ValuesWorker::ReadIdentity(protocol::CTV540& device) {
    const std::uint8_t command[1] = {53};
    std::array<std::uint8_t, kIdentityAnswerSize> answer{};
    if (!device.ExecuteCommand(1, kIdentityAnswerSize, command, answer.data(), 0)) {
        throw ProtocolError(kLinkError);
    }
    if (answer[0] == 1) {
        OnMainThread([&] {
            if (callbacks_.factoryNumber) {
                callbacks_.factoryNumber(answer);
            }
        });
    }
}

void ValuesWorker::ReadAddress(protocol::CTV540& device) {
    std::string text;
    protocol::FieldLocation location;
    if (device.FindDataField(kRoot, 101, 0, 58, location) && location.size > 0) {
        std::array<std::uint8_t, kAddressTextMax> bytes{};
        const unsigned count = location.size < kAddressTextMax ? location.size : kAddressTextMax;
        if (device.ReadMemory(location.address, count, bytes.data())) {
            std::string raw;
            for (unsigned i = 0; i < count && bytes[i] != 0; ++i) {
                raw.push_back(static_cast<char>(bytes[i]));
            }
            text = std::string(W1251("Адрес: ")) +
                   (textIsWindows_ ? raw : platform::Cp866ToCp1251(raw));
        }
    }
    OnMainThread([&] {
        if (callbacks_.address) {
            callbacks_.address(text);
        }
    });
}

void ValuesWorker::ReadEnergyUnit(protocol::CTV540& device) {
    protocol::ElementValue unit;
    if (!device.ReadFieldElement(kRoot, 101, 0, 30, 20, unit)) {
        return;  // the unit stays as it was
    }
    if (unit.value > 1) {
        throw ProtocolError(W1251("Ошибка при определении единицы расчета тепловой энергии."));
    }
    gigajoules_ = unit.value == 0;
}

void ValuesWorker::Poll(protocol::CTV540& device) {
    CurrentValuesFormat format;
    format.version = version_;
    format.wiLayout = settings_.deviceType == "TV540WI";
    const std::uint8_t command[1] = {11};
    std::array<std::uint8_t, kValuesAnswerSize> answer{};
    int failures = 0;
    while (!StopAsked()) {
        if (!device.ExecuteCommand(1, kValuesAnswerSize, command, answer.data(), 1)) {
            FieldColour(false);
            if (++failures >= kMaxFailures) {
                throw ProtocolError(kLinkError);
            }
            continue;
        }
        failures = 0;
        if (answer[0] == 0) {
            continue;  // not measured yet: ask again
        }
        format.gigajoules = gigajoules_;
        OnMainThread([&] {
            if (callbacks_.fieldColour) {
                callbacks_.fieldColour(true);
            }
            if (callbacks_.values) {
                callbacks_.values(answer, format);
            }
        });
    }
}

void ValuesWorker::Read() {
    Status(W1251("Устанавливается соединение. Ждите ..."));
    std::vector<const platform::Event*> stops{&control_->CancelEvent()};
    if (environment_.stopEvent) {
        stops.push_back(environment_.stopEvent.get());
    }
    connection_.Connect(stops);
    startTime_ = Clock::now();

    std::unique_ptr<protocol::CTV540> device = MakeDevice();
    version_ = device->DetectVersion(settings_.versionList);
    if (version_ == kTwoPipelineVersion) {
        device->SelectTextEncoding(settings_.configuration, version_,
                                   W1251("Чтение данных из TV540"));
        textIsWindows_ = device->textIsWindows;
    }
    connected_ = device->connected();
    Status(W1251("Считываются данные"));
    int displayMode = settings_.displayMode;
    if (settings_.reloadDisplayMode) {
        OnMainThread([&] { displayMode = settings_.reloadDisplayMode(version_); });
    }
    if (settings_.deviceType == "TV540WI") {
        displayMode = 0;
    }
    if (displayMode == 1) {
        ReadIdentity(*device);
        ReadAddress(*device);
        ReadEnergyUnit(*device);
    }
    Poll(*device);
}

void ValuesWorker::End(std::string message) {
    const bool stopped = StopAsked();
    workers::ReportEnd(*control_, callbacks_.runOnMainThread, [&] {
        if (callbacks_.finished) {
            callbacks_.finished(message, stopped);
        }
    });
}

void ValuesWorker::Execute() {
    gigajoules_ = settings_.gigajoules;
    std::string message;
    try {
        Read();
    } catch (const ProtocolError& error) {
        message = error.what();
    } catch (...) {
        // No text the operator could use: the message says the connection is gone.
    }
    if (!message.empty() && connected_) {
        message = std::string(kBroken) + ". " + message;
    }
    if (message.empty()) {
        message = kBroken;
    }
    connection_.Disconnect();
    End(std::move(message));
}

}  // namespace

workers::WorkerThread CThreadReadCurrentValues::Start(CurrentValuesSettings settings,
                                                      CurrentValuesCallbacks callbacks,
                                                      CurrentValuesEnvironment environment) {
    auto worker = std::make_shared<ValuesWorker>(std::move(settings), std::move(callbacks),
                                                 std::move(environment));
    std::shared_ptr<workers::WorkerControl> control = worker->Control();
    return workers::WorkerThread(std::move(control), [self = std::move(worker)]() mutable {
        self->Execute();
        self.reset();
    });
}

}  // namespace reading
