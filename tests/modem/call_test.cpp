// Outgoing calls: connecting, the failures of an attempt with their history records, the port
// search, the rate rules, far-end hang-up, and the close record with its statistics.
#include <atomic>
#include <thread>

#include <gtest/gtest.h>

#include "telephony/line_api.h"
#include "tests/modem/library_fixture.h"

namespace {

using namespace testsupport;

const std::string kStamp = FakeClock::kStamp;
const std::string kSeparator = std::string(40, '=') + "\r\n";

std::string Header(unsigned session, const std::string& number) {
    return kSeparator + "Номер сеанса связи: " + std::to_string(session) + "\r\n\r\n" + kStamp +
           "Начало открытия канала передачи информации\r\n" + "   номер телефона: " + number +
           "\r\n\r\n";
}

std::string OpeningError(const std::string& reason) {
    return kStamp + "Ошибка при открытии канала передачи информации:\r\n   " + reason;
}

class CallTest : public ModemLibraryTest {
  protected:
    FakeClock clock_;
};

TEST_F(CallTest, AConnectionFromOpeningToCloseWritesItsRecords) {
    ASSERT_TRUE(OpenHistory(false));
    ASSERT_EQ(Connect(kHeatCalculator), 1u);
    EXPECT_EQ(ModemGetStatus(kSlot), 1u);
    EXPECT_NE(ModemGetCommHandle(kSlot), 0u);
    EXPECT_EQ(View().connectionRate, 19200u);
    std::uint8_t data[2] = {};
    EXPECT_EQ(ModemReadHC(kSlot, 1, 0x1020, 2, data), 2u);
    clock_.Advance(61500);
    EXPECT_EQ(ModemDisconnect(kSlot), 1u);
    EXPECT_EQ(ModemGetStatus(kSlot), 0u);
    EXPECT_EQ(ModemGetCommHandle(kSlot), 0u);
    EXPECT_FALSE(View().lineOpen);
    EXPECT_FALSE(View().tapiInitialised);
    EXPECT_EQ(History(),
              Header(1, "101") + kStamp + "Канал передачи информации открыт:\r\n" +
                  "   скорость соединения: 19200 бит/с\r\n\r\n" + kStamp +
                  "Канал передачи информации закрыт\r\n\r\n"
                  "Статистика:\r\n"
                  "Время использования канала: 61,500 сек\r\n"
                  "Общее время использования канала: 0ч 1м 1,500с\r\n"
                  "Количество операций чтения массива данных (успешные/все): 1/1 (100 %)\r\n"
                  "Количество операций записи массива данных (успешные/все): 0/0\r\n"
                  "Количество сеансов связи (успешные/все): 1/1 (100 %)\r\n\r\n");
    // The modem was told to hang up: DTR down for a while.
    EXPECT_EQ(modem_->Stats().dtrHangUps, 1u);
    EXPECT_FALSE(modem_->Stats().online);
}

TEST_F(CallTest, ChannelTimeAccumulatesOverConnections) {
    ASSERT_TRUE(OpenHistory(false));
    for (int i = 0; i < 2; ++i) {
        ASSERT_EQ(Connect(kHeatCalculator), 1u);
        clock_.Advance(61500);
        ModemDisconnect(kSlot);
    }
    const std::string history = History();
    EXPECT_NE(history.find("Общее время использования канала: 0ч 2м 3,000с\r\n"
                           "Количество операций чтения массива данных (успешные/все): 0/0\r\n"
                           "Количество операций записи массива данных (успешные/все): 0/0\r\n"
                           "Количество сеансов связи (успешные/все): 2/2 (100 %)\r\n\r\n"),
              std::string::npos)
        << history;
    EXPECT_EQ(Utf8(ModemGetStatisticsAll(kSlot)),
              "Количество сеансов связи (успешные/все): 2/2 (100 %)\r\n"
              "Состояние канала передачи информации: закрыт\r\n"
              "Общее время использования канала передачи информации: 0ч 2м 3,000с\r\n"
              "Среднее время использования канала передачи информации: 0ч 1м 1,500с\r\n"
              "Количество операций чтения массива данных (успешные/все): 0/0\r\n"
              "Количество операций записи массива данных (успешные/все): 0/0");
}

TEST_F(CallTest, StatisticsOfARunningConnectionCountItsOperations) {
    ASSERT_EQ(Connect(kHeatCalculator), 1u);
    hc_.Device(1).InjectFault({emulators::FaultKind::WrongHead, 2, 1});
    std::uint8_t data[2] = {};
    unsigned succeeded = 0;
    for (int i = 0; i < 5; ++i) {
        succeeded += ModemReadHC(kSlot, 1, 0x1020, 2, data) == 2 ? 1 : 0;
    }
    EXPECT_EQ(succeeded, 4u);
    clock_.Advance(2500);
    EXPECT_EQ(Utf8(ModemGetStatistics(kSlot)),
              "Номер сеанса связи: 1\r\n"
              "Номер телефона: 101\r\n"
              "Время начала открытия канала: " +
                  kStamp + "Время открытия канала: " + kStamp +
                  "Время закрытия канала: -\r\n"
                  "Скорость соединения: 19200 бит/с\r\n"
                  "Состояние канала передачи информации: открыт\r\n"
                  "Время использования канала: 2,500 сек\r\n"
                  "Количество операций чтения массива данных (успешные/все): 4/5 (80 %)\r\n"
                  "Количество операций записи массива данных (успешные/все): 0/0");
    // The total since load includes the running connection.
    EXPECT_NE(Utf8(ModemGetStatisticsAll(kSlot))
                  .find("Общее время использования канала передачи информации: 0ч 0м 2,500с\r\n"),
              std::string::npos);
    ModemDisconnect(kSlot);
    const std::string after = Utf8(ModemGetStatistics(kSlot));
    EXPECT_NE(after.find("Время закрытия канала: " + kStamp), std::string::npos);
    EXPECT_NE(after.find("закрыт\r\n"), std::string::npos);
}

TEST_F(CallTest, ABusyNumberIsTriedAsOftenAsAsked) {
    ASSERT_TRUE(OpenHistory(false));
    EXPECT_EQ(ModemConnect(kSlot, kBusy, 9600, 56000, kLongTimeout, 3), 0u);
    EXPECT_EQ(modem_->Stats().dialled, (std::vector<std::string>{"102", "102", "102"}));
    const std::string busy =
        OpeningError("принят сигнал занятости от вызываемого абонента\r\n\r\n");
    EXPECT_EQ(History(),
              Header(1, "102") + busy + Header(2, "102") + busy + Header(3, "102") + busy);
    EXPECT_FALSE(View().tapiInitialised);
    EXPECT_EQ(Utf8(ModemGetStatisticsAll(kSlot))
                  .rfind("Количество сеансов связи (успешные/все): 0/3 (0 %)\r\n", 0),
              0u);
}

TEST_F(CallTest, EachRefusalOfTheNetworkHasItsText) {
    ASSERT_TRUE(OpenHistory(false));
    const std::pair<const char*, const char*> cases[] = {
        {kNoAnswer, "нет ответа от вызываемого абонента\r\n\r\n"},
        {kNoDialTone, "нет сигнала готовности станции\r\n\r\n"},
        {"555", "вызываемый абонент не мог быть достигнут\r\n\r\n"},
    };
    unsigned session = 0;
    std::string expected;
    for (const auto& [number, reason] : cases) {
        EXPECT_EQ(Connect(number), 0u);
        expected += Header(++session, number) + OpeningError(reason);
    }
    EXPECT_EQ(History(), expected);
}

TEST_F(CallTest, NoResultWithinTheTimeOutEndsTheAttempt) {
    ASSERT_TRUE(OpenHistory(false));
    EXPECT_EQ(ModemConnect(kSlot, kSilent, 9600, 56000, 2, 1), 0u);
    EXPECT_EQ(History(), Header(1, "105") + OpeningError("вышло время\r\n\r\n"));
    EXPECT_FALSE(View().lineOpen);
    // The dial was cut short: the modem takes the next call.
    EXPECT_EQ(Connect(kHeatCalculator), 1u);
}

TEST_F(CallTest, HangingUpDuringTheDialEndsTheWaitingConnect) {
    ASSERT_TRUE(OpenHistory(false));
    std::uint32_t result = 2;
    std::thread dialler([&] { result = ModemConnect(kSlot, kSilent, 9600, 56000, 600, 1); });
    while (modem_->Stats().dialled.empty()) {
        std::this_thread::yield();
    }
    EXPECT_EQ(ModemDisconnect(kSlot), 1u);
    dialler.join();  // long before the ten minutes
    EXPECT_EQ(result, 0u);
    EXPECT_EQ(History(), Header(1, "105") + OpeningError("отмена звонка\r\n\r\n"));
    EXPECT_FALSE(View().lineOpen);
    EXPECT_EQ(Connect(kHeatCalculator), 1u);
}

// A stop pressed as the dial starts: the hang-up may land before, inside or after the library's
// set-up of the call, and the dial must still end as cancelled, never at its time-out.
TEST_F(CallTest, AHangUpRacingTheStartOfTheDialEndsIt) {
    ASSERT_TRUE(OpenHistory(false));
    for (int run = 0; run < 400; ++run) {
        const int delay = (run % 100) * 10;
        std::atomic<bool> done{false};
        std::uint32_t result = 2;
        std::thread dialler([&] {
            result = ModemConnect(kSlot, kSilent, 9600, 56000, 20, 1);
            done = true;
        });
        std::this_thread::sleep_for(std::chrono::microseconds(delay));
        while (!done) {
            ModemDisconnect(kSlot);
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        dialler.join();
        EXPECT_EQ(result, 0u) << "hang-up after " << delay << " us";
    }
    EXPECT_EQ(History().find("вышло время"), std::string::npos);
    EXPECT_EQ(Connect(kHeatCalculator), 1u);
}

TEST_F(CallTest, AnEmptyNumberFailsWithoutTouchingTheModem) {
    ASSERT_TRUE(OpenHistory(false));
    EXPECT_EQ(ModemConnect(kSlot, "", 9600, 56000, 10, 1), 0u);
    EXPECT_EQ(ModemConnect(kSlot, nullptr, 9600, 56000, 10, 1), 0u);
    const std::string record =
        "\r\n" + OpeningError("не задан номер телефона вызываемого абонента\r\n\r\n");
    const std::string header1 = kSeparator + "Номер сеанса связи: 1\r\n\r\n" + kStamp +
                                "Начало открытия канала передачи информации\r\n";
    const std::string header2 = kSeparator + "Номер сеанса связи: 2\r\n\r\n" + kStamp +
                                "Начало открытия канала передачи информации\r\n";
    EXPECT_EQ(History(), header1 + record + header2 + record);
    EXPECT_TRUE(modem_->Stats().commands.empty());
    EXPECT_FALSE(View().tapiInitialised);
    const std::string statistics = Utf8(ModemGetStatistics(kSlot));
    EXPECT_NE(statistics.find("Номер телефона: \r\n"), std::string::npos);
    EXPECT_NE(statistics.find("Время закрытия канала: " + kStamp), std::string::npos);
}

TEST_F(CallTest, SlotZeroFindsTheModemAndRemembersItsPort) {
    ASSERT_EQ(Connect(kHeatCalculator, 0), 1u);
    EXPECT_EQ(View(0).portNumber, 3u);
    ModemDisconnect(0);
    ASSERT_EQ(Connect(kHeatCalculator, 3), 1u);
    EXPECT_EQ(View(3).portNumber, 3u);
    ModemDisconnect(3);
}

TEST_F(CallTest, ASlotWithoutItsModemFails) {
    ASSERT_TRUE(OpenHistory(false, 2));
    EXPECT_EQ(Connect(kHeatCalculator, 2), 0u);
    EXPECT_EQ(History(),
              Header(1, "101") + "Ошибка при обращении к модему:\r\n   COM-порт = ???\r\n\r\n");
    EXPECT_TRUE(modem_->Stats().dialled.empty());
    EXPECT_FALSE(View(2).tapiInitialised);
}

TEST_F(CallTest, AModemAnsweringGarbageOrNothingIsUnavailable) {
    telephony::LineTimings timings = FastLineTimings();
    timings.commandReply = std::chrono::milliseconds(200);
    timings.resetReply = std::chrono::milliseconds(200);
    telephony::SetLineTimings(timings);
    ASSERT_TRUE(OpenHistory(false));
    for (auto fault : {emulators::CommandFault::Garbage, emulators::CommandFault::Silent}) {
        modem_->SetFault(fault);
        EXPECT_EQ(Connect(kHeatCalculator), 0u);
    }
    EXPECT_EQ(Count(History(), OpeningError("модем недоступен\r\n")), 2u);
    EXPECT_EQ(Count(History(), "COM-порт = ???"), 0u);
    EXPECT_TRUE(modem_->Stats().dialled.empty());
    modem_->SetFault(emulators::CommandFault::None);
    EXPECT_EQ(Connect(kHeatCalculator), 1u);
}

TEST_F(CallTest, ALongNumberIsDialledAsItsFirst31Characters) {
    const std::string number = "1234567890123456789012345678901234567890";
    EXPECT_EQ(Connect(number), 0u);  // the network knows no such number
    ASSERT_EQ(modem_->Stats().dialled.size(), 1u);
    EXPECT_EQ(modem_->Stats().dialled[0], number.substr(0, 31));
    EXPECT_NE(
        Utf8(ModemGetStatistics(kSlot)).find("Номер телефона: " + number.substr(0, 31) + "\r\n"),
        std::string::npos);
}

TEST_F(CallTest, AfterTheFarEndHangsUpTheNextReadEndsTheCall) {
    ASSERT_TRUE(OpenHistory(false));
    ASSERT_EQ(Connect(kHeatCalculator), 1u);
    modem_->HangUpFarEnd();
    ASSERT_TRUE(WaitFor([this] { return View().callEnded; }, std::chrono::seconds(10)));
    std::uint8_t byte = 0;
    EXPECT_EQ(ModemRead(kSlot, 1, &byte), 0u);
    EXPECT_EQ(ModemGetStatus(kSlot), 0u);
    EXPECT_EQ(ModemGetCommHandle(kSlot), 0u);
    EXPECT_FALSE(View().lineOpen);
    EXPECT_FALSE(View().tapiInitialised);
    EXPECT_EQ(Count(History(), "Канал передачи информации закрыт\r\n\r\n"), 1u);
    EXPECT_EQ(modem_->Stats().escapes, 0u);  // nothing left to hang up
    EXPECT_EQ(Connect(kHeatCalculator), 1u);
}

class RateTest : public ModemLibraryTest {
  protected:
    RateTest() : ModemLibraryTest("COM3:33600") {}

    telephony::CallParams RatesAsked(std::uint32_t minRate, std::uint32_t maxRate) {
        EXPECT_EQ(ModemConnect(kSlot, kHeatCalculator, minRate, maxRate, kLongTimeout, 1), 1u);
        telephony::LineCallInfo info;
        EXPECT_EQ(telephony::LineGetCallInfo(View().callHandle, info), 0);
        ModemDisconnect(kSlot);
        return info.params;
    }
};

TEST_F(RateTest, RatesAreBoundedByEachOtherAndByTheModem) {
    telephony::CallParams params = RatesAsked(9600, 56000);
    EXPECT_EQ(params.minRate, 9600u);
    EXPECT_EQ(params.maxRate, 33600u);
    EXPECT_EQ(params.mediaMode, telephony::kMediaModeDataModem);
    params = RatesAsked(56000, 9600);
    EXPECT_EQ(params.minRate, 9600u);
    EXPECT_EQ(params.maxRate, 9600u);
    params = RatesAsked(9600, 0);
    EXPECT_EQ(params.minRate, 0u);
    EXPECT_EQ(params.maxRate, 0u);
    params = RatesAsked(40000, 50000);
    EXPECT_EQ(params.minRate, 33600u);
    EXPECT_EQ(params.maxRate, 33600u);
}

TEST_F(CallTest, TwoModemsWorkAtOnceFromTwoThreads) {
    emulators::HcLine secondHc({HeatCalculator(1)});
    emulators::ModemOptions options = FastModemOptions();
    options.numbers["201"] =
        emulators::DialPlan{emulators::DialOutcome::Connect, 9600, 10, secondHc.SlavePath()};
    EmulatedModem second(5, options, "COM3 COM5");
    auto work = [](std::uint32_t slot, const char* number, std::uint32_t& reads) {
        if (ModemConnect(slot, number, 9600, 56000, kLongTimeout, 1) != 1) {
            return;
        }
        std::uint8_t data[16];
        for (int i = 0; i < 10; ++i) {
            reads += ModemReadHC(slot, 1, 0x1000 + 16 * i, 16, data) == 16 ? 1 : 0;
            ModemGetStatistics(slot);
        }
        ModemDisconnect(slot);
    };
    std::uint32_t readsA = 0;
    std::uint32_t readsB = 0;
    std::thread a(work, 3, kHeatCalculator, std::ref(readsA));
    std::thread b(work, 5, "201", std::ref(readsB));
    a.join();
    b.join();
    EXPECT_EQ(readsA, 10u);
    EXPECT_EQ(readsB, 10u);
    EXPECT_FALSE(View(3).tapiInitialised);
}

}  // namespace
