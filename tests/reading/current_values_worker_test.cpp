// The current-values worker against an emulated heat calculator on a paced line.
#include "reading/current_values_worker.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "emulators/hc_values.h"
#include "platform/cp1251_literal.h"
#include "reading/modem_library.h"
#include "tests/support/emulated_port.h"
#include "tests/telephony/emulated_modem.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using emulators::FaultKind;

const std::string kConnecting(W1251("Устанавливается соединение. Ждите ..."));
const std::string kReading(W1251("Считываются данные"));
constexpr int kModemPort = 3;
const std::string kBrokenLink(W1251("Соединение разорвано. Ошибка связи."));

// One run of the worker: what it reported, in order of arrival.
class ValuesRun {
  public:
    explicit ValuesRun(testsupport::EmulatedPort& port) : ValuesRun(port.Device(), port.Name()) {}
    ValuesRun(emulators::HcDevice& device, const std::string& portName) : device_(device) {
        settings.portName = portName;
        settings.abonent = 1;
        settings.baudRate = 38400;
        settings.versionList = {"302/101/0/30/15=45,53,60"};
        environment.waits.recoveryWaitMs = 10;
        environment.waits.mailboxPollMs = 20;
        environment.waits.commandPauseMs = 0;
        environment.stopEvent =
            std::make_shared<platform::Event>(platform::Event::Kind::kManualReset);
    }

    // Starts the worker; `until` (under the lock, after each report) says when to press
    // "Назад". Waits for the end.
    void Run(std::function<bool()> until = {}) {
        until_ = std::move(until);
        reading::CurrentValuesCallbacks callbacks;
        callbacks.status = [this](const std::string& text) {
            Note([&] { statuses.push_back(text); });
        };
        callbacks.elapsed = [this](std::chrono::seconds) { Note([&] { ++elapsedCalls; }); };
        callbacks.factoryNumber = [this](std::span<const std::uint8_t> answer) {
            Note([&] { factory.assign(answer.begin(), answer.end()); });
        };
        callbacks.address = [this](const std::string& text) {
            Note([&] { addresses.push_back(text); });
        };
        callbacks.values = [this](std::span<const std::uint8_t> answer,
                                  const reading::CurrentValuesFormat& format) {
            Note([&] {
                answers.emplace_back(answer.begin(), answer.end());
                formats.push_back(format);
            });
        };
        callbacks.fieldColour = [this](bool white) { Note([&] { colours.push_back(white); }); };
        callbacks.exchange = [this](bool ok) {
            Note([&] {
                ++(ok ? good : bad);
                inExchange = true;
            });
        };
        callbacks.finished = [this](const std::string& message, bool stopped) {
            Note([&] {
                ++endings;
                endMessage = message;
                endStopped = stopped;
            });
        };
        startTime_ = device_.DeviceTime();
        workers::WorkerThread worker =
            reading::CThreadReadCurrentValues::Start(settings, std::move(callbacks), environment);
        {
            std::unique_lock lock(mutex_);
            EXPECT_TRUE(changed_.wait_for(lock, std::chrono::minutes(3), [this] {
                return endings > 0;
            })) << "the reading never ended";
        }
        worker.Join();
        endTime_ = device_.DeviceTime();
    }

    // An answer the device may have given between the start and the end.
    bool FromDevice(const Bytes& answer,
                    const emulators::CurrentValuesOptions& options = {}) const {
        for (std::int64_t t = startTime_ - 1; t <= endTime_ + 1; ++t) {
            if (emulators::CurrentValuesAnswer(device_.Config().seed, t, options) == answer) {
                return true;
            }
        }
        return false;
    }

    reading::CurrentValuesSettings settings;
    reading::CurrentValuesEnvironment environment;
    std::vector<std::string> statuses;
    std::vector<std::string> addresses;
    Bytes factory;
    std::vector<Bytes> answers;
    std::vector<reading::CurrentValuesFormat> formats;
    std::vector<bool> colours;
    int elapsedCalls = 0;
    int good = 0;
    int bad = 0;
    int endings = 0;
    std::string endMessage;
    bool endStopped = false;
    bool inExchange = false;  // the report being made is an exchange's

  private:
    void Note(const std::function<void()>& record) {
        std::lock_guard lock(mutex_);
        record();
        if (until_ && until_()) {
            environment.stopEvent->Set();
        }
        inExchange = false;
        changed_.notify_all();
    }

    emulators::HcDevice& device_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::function<bool()> until_;
    std::int64_t startTime_ = 0;
    std::int64_t endTime_ = 0;
};

TEST(CurrentValuesWorker, Version45ShowsNumberAddressAndFourPipelinesUntilStopped) {
    testsupport::EmulatedPort port(5, {testsupport::Device(1, 45)}, testsupport::PatientLine());
    ValuesRun run(port);
    run.Run([&] { return run.answers.size() >= 2; });

    ASSERT_GE(run.statuses.size(), 2u);
    EXPECT_EQ(run.statuses[0], kConnecting);
    EXPECT_EQ(run.statuses[1], kReading);
    ASSERT_EQ(run.factory.size(), 8u);
    const std::string number = emulators::FactoryNumber(7);
    EXPECT_EQ(std::string(run.factory.begin() + 1, run.factory.begin() + 6), number);
    ASSERT_EQ(run.addresses.size(), 1u);
    EXPECT_EQ(run.addresses[0], std::string(W1251("Адрес: Котельная №1, ул. Заводская 12")));
    ASSERT_GE(run.answers.size(), 2u);
    for (std::size_t i = 0; i < run.answers.size(); ++i) {
        EXPECT_TRUE(run.FromDevice(run.answers[i])) << "answer " << i;
        EXPECT_EQ(run.formats[i].version, 45);
        EXPECT_FALSE(run.formats[i].wiLayout);
        EXPECT_TRUE(run.formats[i].gigajoules);
    }
    EXPECT_GT(run.elapsedCalls, 0);
    EXPECT_EQ(run.bad, 0);
    EXPECT_EQ(run.endings, 1);
    EXPECT_TRUE(run.endStopped);
    // Stopped between two requests: no error, the bare end text.
    EXPECT_EQ(run.endMessage, std::string(W1251("Соединение разорвано")));
}

TEST(CurrentValuesWorker, Version60TextsAreWindowsWhenConfigured) {
    testsupport::EmulatedPort port(5, {testsupport::Device(1, 60)}, testsupport::PatientLine());
    ValuesRun run(port);
    run.settings.configuration.WriteString(W1251("Чтение данных из TV540"), W1251("тип"), "TV540");
    run.settings.configuration.WriteString("TV540", W1251("кодировка текста"), "windows");
    run.Run([&] { return !run.answers.empty(); });

    ASSERT_EQ(run.addresses.size(), 1u);
    EXPECT_EQ(run.addresses[0], std::string(W1251("Адрес: Котельная №1, ул. Заводская 12")));
    ASSERT_FALSE(run.formats.empty());
    EXPECT_EQ(run.formats[0].version, 60);
    EXPECT_TRUE(run.FromDevice(run.answers[0]));
    EXPECT_TRUE(run.endStopped);
}

TEST(CurrentValuesWorker, EnergyUnitComesFromTheDevice) {
    emulators::HcConfig gcal = testsupport::Device(1, 45);
    gcal.energyUnit = 1;
    testsupport::EmulatedPort port(5, {gcal}, testsupport::PatientLine());
    ValuesRun run(port);
    run.Run([&] { return !run.answers.empty(); });
    ASSERT_FALSE(run.formats.empty());
    EXPECT_FALSE(run.formats[0].gigajoules);
}

TEST(CurrentValuesWorker, UnknownEnergyUnitEndsTheReading) {
    emulators::HcConfig odd = testsupport::Device(1, 45);
    odd.energyUnit = 5;
    testsupport::EmulatedPort port(5, {odd}, testsupport::PatientLine());
    ValuesRun run(port);
    run.Run();
    EXPECT_EQ(run.endMessage, std::string(W1251("Соединение разорвано. Ошибка при определении "
                                                "единицы расчета тепловой энергии.")));
    EXPECT_FALSE(run.endStopped);
    EXPECT_TRUE(run.answers.empty());
}

TEST(CurrentValuesWorker, WiTypeSkipsTheHeadAndReadsItsLayout) {
    emulators::HcConfig wi = testsupport::Device(1, 45);
    wi.wiCurrentValues = true;
    testsupport::EmulatedPort port(5, {wi}, testsupport::PatientLine());
    ValuesRun run(port);
    run.settings.deviceType = "TV540WI";
    run.Run([&] { return !run.answers.empty(); });
    EXPECT_TRUE(run.factory.empty());
    EXPECT_TRUE(run.addresses.empty());
    ASSERT_FALSE(run.formats.empty());
    EXPECT_TRUE(run.formats[0].wiLayout);
    emulators::CurrentValuesOptions options;
    options.wiLayout = true;
    EXPECT_TRUE(run.FromDevice(run.answers[0], options));
}

TEST(CurrentValuesWorker, BrokenSensorAboveNineHundredDegreesReachesTheWindow) {
    emulators::HcConfig hot = testsupport::Device(1, 45);
    hot.pipeline1Temperature = 950;
    testsupport::EmulatedPort port(5, {hot}, testsupport::PatientLine());
    ValuesRun run(port);
    run.Run([&] { return !run.answers.empty(); });
    ASSERT_FALSE(run.answers.empty());
    const auto expected = emulators::EncodeDeviceNumber(950);
    EXPECT_EQ(Bytes(run.answers[0].begin() + 21, run.answers[0].begin() + 25),
              Bytes(expected.begin(), expected.end()));
    emulators::CurrentValuesOptions options;
    options.pipeline1Temperature = 950;
    EXPECT_TRUE(run.FromDevice(run.answers[0], options));
}

TEST(CurrentValuesWorker, AnswersNotReadyPaintYellowThenValuesComeWhite) {
    emulators::HcConfig slow = testsupport::Device(1, 45);
    slow.currentValuesNotReady = 2;
    slow.statusZeroPolls = 2;  // every command answers at status 0 a little while first
    testsupport::EmulatedPort port(5, {slow}, testsupport::PatientLine());
    ValuesRun run(port);
    run.Run([&] { return !run.answers.empty(); });
    ASSERT_GE(run.colours.size(), 3u);
    EXPECT_EQ(std::vector<bool>(run.colours.begin(), run.colours.begin() + 3),
              (std::vector<bool>{false, false, true}));
    EXPECT_GT(port.Device().Stats().statusZeroAnswers, 2u);
    ASSERT_FALSE(run.answers.empty());
    EXPECT_TRUE(run.FromDevice(run.answers[0]));
}

TEST(CurrentValuesWorker, SixFailedRequestsInARowEndWithLinkError) {
    emulators::HcConfig stuck = testsupport::Device(1, 45);
    stuck.currentValuesNotReady = 1000;
    testsupport::EmulatedPort port(5, {stuck}, testsupport::PatientLine());
    ValuesRun run(port);
    run.Run();
    EXPECT_EQ(run.endMessage, kBrokenLink);
    EXPECT_EQ(run.colours, std::vector<bool>(6, false));
    EXPECT_TRUE(run.answers.empty());
    EXPECT_FALSE(run.endStopped);
}

TEST(CurrentValuesWorker, SilentDeviceEndsWithLinkError) {
    testsupport::EmulatedPort port(5, {testsupport::Device(1, 45)}, testsupport::PatientLine());
    ValuesRun run(port);
    bool silenced = false;
    run.Run([&] {
        if (!run.answers.empty() && !silenced) {
            silenced = true;
            port.Device().InjectFault({FaultKind::Silence, 0, 1, 600000});
        }
        return false;
    });
    EXPECT_EQ(run.endMessage, kBrokenLink);
    EXPECT_GT(run.bad, 0);
    EXPECT_FALSE(run.endStopped);
}

TEST(CurrentValuesWorker, StopDuringAnExchangeEndsTheReading) {
    testsupport::EmulatedPort port(5, {testsupport::Device(1, 45)}, testsupport::PatientLine());
    ValuesRun run(port);
    // Pressed in the middle of a request: its exchange is the last one.
    run.Run([&] { return run.inExchange && !run.answers.empty(); });
    EXPECT_TRUE(run.endStopped);
    EXPECT_EQ(run.endings, 1);
    EXPECT_EQ(run.answers.size(), 1u);
    EXPECT_EQ(run.endMessage, std::string(W1251("Соединение разорвано. Чтение данных из "
                                                "тепловычислителя прервано.")));
}

TEST(CurrentValuesWorker, PortThatCannotOpenIsNotPrefixed) {
    testsupport::EmulatedPort port(5, {testsupport::Device(1, 45)}, testsupport::PatientLine());
    ValuesRun run(port);
    run.settings.portName = "COM9";
    ::setenv("CALVIX_COM9", "/nonexistent/calvix-port", 1);
    run.Run();
    ::unsetenv("CALVIX_COM9");
    EXPECT_EQ(run.endMessage, std::string(W1251("Соединение не установлено.")));
    EXPECT_TRUE(run.statuses.size() == 1 && run.statuses[0] == kConnecting);
}

TEST(CurrentValuesWorker, DroppedHandleStopsTheReading) {
    testsupport::EmulatedPort port(5, {testsupport::Device(1, 45)}, testsupport::PatientLine());
    reading::CurrentValuesSettings settings;
    settings.portName = port.Name();
    settings.abonent = 1;
    settings.baudRate = 38400;
    std::mutex mutex;
    std::condition_variable seen;
    bool exchanged = false;
    int endings = 0;
    reading::CurrentValuesCallbacks callbacks;
    callbacks.exchange = [&](bool) {
        std::lock_guard lock(mutex);
        exchanged = true;
        seen.notify_all();
    };
    callbacks.finished = [&](const std::string&, bool stopped) {
        std::lock_guard lock(mutex);
        ++endings;
        EXPECT_TRUE(stopped);
    };
    {
        workers::WorkerThread worker =
            reading::CThreadReadCurrentValues::Start(settings, std::move(callbacks), {});
        std::unique_lock lock(mutex);
        ASSERT_TRUE(seen.wait_for(lock, std::chrono::minutes(1), [&] { return exchanged; }));
    }
    std::lock_guard lock(mutex);
    EXPECT_EQ(endings, 1);
}

// Through the real modem library: an emulated modem whose call leads to the device.
TEST(CurrentValuesWorker, ModemCallReadsValuesAndHangsUpAtTheEnd) {
    emulators::HcLine line({testsupport::Device(1, 45)}, testsupport::PatientLine());
    emulators::ModemOptions options;
    options.guardMs = 200;
    options.numbers["101"] =
        emulators::DialPlan{emulators::DialOutcome::Connect, 9600, 200, line.SlavePath()};
    testsupport::EmulatedModem modem(kModemPort, options);
    // After the modem is named: the library reads the modem ports when it is loaded.
    std::unique_ptr<reading::ModemLibrary> library = reading::LoadTarvex(TARVEX_LIBRARY_PATH);
    ASSERT_TRUE(library->Loaded()) << library->LoadError();
    ValuesRun run(line.Device(1), "COM" + std::to_string(kModemPort));
    run.settings.useModem = true;
    run.settings.phoneNumber = "101";
    run.settings.connectTimeout = 30;
    run.environment.modem = library.get();
    run.Run([&] { return !run.answers.empty(); });
    ASSERT_FALSE(run.answers.empty()) << run.endMessage;
    EXPECT_TRUE(run.FromDevice(run.answers[0]));
    EXPECT_EQ(modem->Stats().dialled, std::vector<std::string>{"101"});
    EXPECT_TRUE(run.endStopped);
    EXPECT_EQ(library->ModemGetCommHandle(kModemPort), 0u);
}

TEST(CurrentValuesWorker, ModemWithoutTelephoneNumberIsNotConnected) {
    emulators::HcLine line({testsupport::Device(1, 45)}, testsupport::PatientLine());
    ValuesRun run(line.Device(1), "COM" + std::to_string(kModemPort));
    run.settings.useModem = true;
    run.Run();
    EXPECT_EQ(run.endMessage,
              std::string(W1251("Соединение не установлено.\r\nНе задан номер телефона.")));
    EXPECT_FALSE(run.endStopped);
}

}  // namespace
