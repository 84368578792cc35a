// The address search against emulated heat calculators on one paced line.
#include "gui/rules/address_search.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <mutex>
#include <set>
#include <string>
#include <system_error>
#include <vector>

#include "emulators/hc_line.h"
#include "emulators/hc_values.h"
#include "emulators/pseudo_terminal.h"
#include "protocol/utv540.h"
#include "tests/support/loopback.h"

namespace calvix {
namespace {

// What the search told its view, in order.
struct RecordingView : SearchView {
    void PortOpenFailed(const std::string& detail) override {
        events.emplace_back("port");
        openDetail = detail;
    }
    void ShowAddress(int address) override {
        shown.push_back(address);
        if (onShow) {
            onShow(address);
        }
    }
    void Found(const std::string& text, int count) override {
        found.push_back(text);
        counts.push_back(count);
        if (onFound) {
            onFound();
        }
    }
    void FaultyDevice() override { events.emplace_back("faulty"); }
    void Finished() override { events.emplace_back("finished"); }
    void WriteFailed() override { events.emplace_back("write"); }
    void ReadFailed() override { events.emplace_back("read"); }

    std::vector<std::string> events;
    std::string openDetail;
    std::vector<int> shown;
    std::vector<std::string> found;
    std::vector<int> counts;
    std::function<void(int)> onShow;
    std::function<void()> onFound;
};

emulators::HcConfig Device(std::uint8_t address, std::uint32_t seed) {
    emulators::HcConfig config;
    config.address = address;
    config.seed = seed;
    return config;
}

// A busy machine may stall the search between an address byte and the rest of its frame; a
// patient line keeps such a stall from splitting the frame, which no test here is about.
emulators::LineOptions PatientLine() {
    emulators::LineOptions options;
    options.gapTimeoutMs = 1000;
    return options;
}

std::string Listed(int address, std::uint32_t seed) {
    return std::to_string(address) + " - " + emulators::FactoryNumber(seed).substr(0, 4);
}

// Devices at 2, 5 (not ready for three polls), 7 (number "5.3" and FFh) and 9 (a wrong checksum
// in its answer to frame C), with the addresses of every request the line heard.
class SearchLine {
  public:
    SearchLine() {
        emulators::HcConfig slow = Device(5, 22);
        slow.statusZeroPolls = 3;
        emulators::HcConfig dotted = Device(7, 33);
        dotted.factoryNumber = "5.3\xFF";
        emulators::LineOptions options = PatientLine();
        options.trace = [this](const std::string& line) { Heard(line); };
        line_ = std::make_unique<emulators::HcLine>(
            std::vector<emulators::HcConfig>{Device(2, 11), slow, dotted, Device(9, 44)}, options);
        line_->Device(9).InjectFault({emulators::FaultKind::BadChecksum, 2, 1, 0});
    }

    emulators::HcLine& Line() { return *line_; }
    std::set<int> Tried() {
        std::lock_guard lock(mutex_);
        return tried_;
    }

  private:
    void Heard(const std::string& line) {
        if (line.rfind("rx ", 0) != 0) {
            return;
        }
        const int address = std::stoi(line.substr(3, 2), nullptr, 16);
        std::lock_guard lock(mutex_);
        tried_.insert(address);
    }

    std::mutex mutex_;
    std::set<int> tried_;
    std::unique_ptr<emulators::HcLine> line_;
};

SearchRequest Request(const std::string& port, int begin, int end, bool net) {
    SearchRequest request;
    request.portName = port;
    request.speed = 9600;  // read time-outs with room for a busy machine
    request.begin = begin;
    request.end = end;
    request.net = net;
    request.waits = {std::chrono::milliseconds(1), std::chrono::milliseconds(1),
                     std::chrono::milliseconds(1), std::chrono::milliseconds(5)};
    return request;
}

struct RangeCase {
    const char* name;
    int begin;
    int end;
    bool net;
    std::set<int> tried;
    std::vector<std::string> found;
    int faulty;
};

class AddressSearchRangeTest : public ::testing::TestWithParam<RangeCase> {};

TEST_P(AddressSearchRangeTest, ListsTheDevicesThatAnswerAndTriesOnlyTheRightAddresses) {
    const RangeCase& c = GetParam();
    SearchLine line;
    RecordingView view;
    std::atomic<std::uint8_t> stop{0};

    EXPECT_EQ(RunAddressSearch(Request(line.Line().SlavePath(), c.begin, c.end, c.net), stop, view),
              SearchEnd::Finished);
    EXPECT_EQ(view.found, c.found);
    EXPECT_EQ(line.Tried(), c.tried);
    std::vector<std::string> events(static_cast<std::size_t>(c.faulty), "faulty");
    events.emplace_back("finished");
    EXPECT_EQ(view.events, events);
    std::vector<int> shown{0};
    std::vector<int> counts;
    for (int a = c.begin; a <= c.end; ++a) {
        shown.push_back(a);
    }
    for (std::size_t i = 1; i <= c.found.size(); ++i) {
        counts.push_back(static_cast<int>(i));
    }
    EXPECT_EQ(view.shown, shown);
    EXPECT_EQ(view.counts, counts);
}

INSTANTIATE_TEST_SUITE_P(
    Ranges, AddressSearchRangeTest,
    ::testing::Values(RangeCase{"WholeLineInTheNet",
                                0,
                                10,
                                true,
                                {2, 4, 5, 6, 7, 8, 9, 10},
                                {Listed(2, 11), Listed(5, 22), "7 - 5.3"},
                                1},
                      RangeCase{"OneToThreeInTheNet", 1, 3, true, {2}, {Listed(2, 11)}, 0},
                      RangeCase{"OneToThreeAlone", 1, 3, false, {2, 3}, {Listed(2, 11)}, 0},
                      RangeCase{"ZeroAndOneOnly", 0, 1, false, {}, {}, 0},
                      RangeCase{"BadChecksumThenGoesOn", 9, 10, false, {9, 10}, {}, 1}),
    [](const ::testing::TestParamInfo<RangeCase>& param) { return std::string(param.param.name); });

TEST(AddressSearchTest, PollsFrameCWhileTheDeviceIsNotReady) {
    SearchLine line;
    RecordingView view;
    std::atomic<std::uint8_t> stop{0};
    RunAddressSearch(Request(line.Line().SlavePath(), 5, 5, false), stop, view);
    const emulators::HcStats stats = line.Line().Device(5).Stats();
    EXPECT_EQ(stats.statusZeroAnswers, 3u);
    EXPECT_EQ(stats.readFrames, 4u);
    EXPECT_EQ(view.found, std::vector<std::string>{Listed(5, 22)});
}

TEST(AddressSearchTest, GivesUpWaitingAfterEightyRepeatsAndListsTheDevice) {
    emulators::HcConfig stubborn = Device(4, 55);
    stubborn.statusZeroPolls = 1000;
    emulators::HcLine line({stubborn}, PatientLine());
    RecordingView view;
    std::atomic<std::uint8_t> stop{0};
    SearchRequest request = Request(line.SlavePath(), 4, 4, false);
    request.waits.repeatC = std::chrono::milliseconds(0);
    EXPECT_EQ(RunAddressSearch(request, stop, view), SearchEnd::Finished);
    EXPECT_EQ(line.Device(4).Stats().readFrames, 1u + kMaxStatusZeroRepeats);
    ASSERT_EQ(view.found.size(), 1u);
}

TEST(AddressSearchTest, StopFlagEndsTheSearchBeforeTheNextAddress) {
    SearchLine line;
    RecordingView view;
    std::atomic<std::uint8_t> stop{0};
    view.onFound = [&] { stop.store(1); };
    EXPECT_EQ(RunAddressSearch(Request(line.Line().SlavePath(), 2, 10, false), stop, view),
              SearchEnd::Stopped);
    EXPECT_EQ(view.shown, (std::vector<int>{0, 2}));
    EXPECT_EQ(line.Tried(), std::set<int>{2});
    EXPECT_TRUE(view.events.empty());
}

TEST(AddressSearchTest, StopFlagEndsTheWaitForADeviceThatIsNeverReady) {
    RecordingView view;
    std::atomic<std::uint8_t> stop{0};
    emulators::HcConfig stubborn = Device(4, 55);
    stubborn.statusZeroPolls = 1000;
    emulators::LineOptions options = PatientLine();
    std::atomic<int> reads{0};
    options.trace = [&](const std::string& text) {
        if (text.rfind("rx 04 08", 0) == 0 && ++reads == 2) {
            stop.store(1);
        }
    };
    emulators::HcLine stubbornLine({stubborn}, options);
    EXPECT_EQ(RunAddressSearch(Request(stubbornLine.SlavePath(), 4, 6, false), stop, view),
              SearchEnd::Stopped);
    EXPECT_LE(stubbornLine.Device(4).Stats().readFrames, 3u);
    EXPECT_TRUE(view.found.empty());
    EXPECT_TRUE(view.events.empty());
}

// A loopback listener: connections wait in its backlog, enough for a raw TCP port to open.
class LoopbackListener {
  public:
    LoopbackListener()
        : fd_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)),
          port_(testsupport::BindLoopback(fd_)) {
        EXPECT_EQ(::listen(fd_, 4), 0);
    }
    ~LoopbackListener() { ::close(fd_); }
    LoopbackListener(const LoopbackListener&) = delete;
    LoopbackListener& operator=(const LoopbackListener&) = delete;
    std::string Url() const { return "tcp://127.0.0.1:" + std::to_string(port_); }

  private:
    int fd_;
    int port_;
};

TEST(AddressSearchTest, PortThatCannotBeOpenedEndsAtOnce) {
    RecordingView view;
    std::atomic<std::uint8_t> stop{0};
    EXPECT_EQ(RunAddressSearch(Request("/nonexistent/tty", 1, 255, false), stop, view),
              SearchEnd::PortNotOpened);
    EXPECT_EQ(view.events, std::vector<std::string>{"port"});
    EXPECT_TRUE(view.shown.empty());
    EXPECT_EQ(view.openDetail, "");

    // A raw TCP port is refused before anything is sent, with the reading's advice.
    const LoopbackListener server;
    RecordingView tcp;
    EXPECT_EQ(RunAddressSearch(Request(server.Url(), 1, 255, false), stop, tcp),
              SearchEnd::PortNotOpened);
    EXPECT_EQ(tcp.openDetail, protocol::FixedLinePortText(server.Url()));
}

TEST(AddressSearchTest, FailedWriteEndsTheSearch) {
    SearchLine line;
    RecordingView view;
    std::atomic<std::uint8_t> stop{0};
    view.onShow = [&](int address) {
        if (address == 4) {
            line.Line().Stop();
        }
    };
    EXPECT_EQ(RunAddressSearch(Request(line.Line().SlavePath(), 2, 10, false), stop, view),
              SearchEnd::WriteFailed);
    EXPECT_EQ(view.events, std::vector<std::string>{"write"});
    EXPECT_EQ(view.shown.back(), 4);
}

// A line whose far end takes one request and hangs up before answering.
TEST(AddressSearchTest, FailedReadEndsTheSearch) {
    emulators::PseudoTerminalEnds ends = emulators::OpenPseudoTerminal(B38400, false);
    std::thread farEnd([&] {
        std::size_t received = 0;
        while (received < 7) {
            pollfd fd{ends.master, POLLIN, 0};
            if (::poll(&fd, 1, 10000) <= 0) {
                break;
            }
            std::uint8_t buffer[16];
            const ssize_t n = ::read(ends.master, buffer, sizeof buffer);
            if (n > 0) {
                received += static_cast<std::size_t>(n);
            } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
                break;
            }
        }
        ::close(ends.master);
    });
    RecordingView view;
    std::atomic<std::uint8_t> stop{0};
    const SearchEnd end = RunAddressSearch(Request(ends.slavePath, 2, 10, false), stop, view);
    farEnd.join();
    ::close(ends.slave);
    EXPECT_EQ(end, SearchEnd::ReadFailed);
    EXPECT_EQ(view.events, std::vector<std::string>{"read"});
}

// ---------------------------------------------------------------------------------------------

// Counts the search's endings into a counter that outlives the view (the thread frees it).
struct CountingView : SearchView {
    explicit CountingView(std::atomic<int>& endings) : ends(endings) {}
    void PortOpenFailed(const std::string&) override { ++ends; }
    void ShowAddress(int) override {}
    void Found(const std::string&, int) override {}
    void FaultyDevice() override {}
    void Finished() override { ++ends; }
    void WriteFailed() override { ++ends; }
    void ReadFailed() override { ++ends; }
    std::atomic<int>& ends;
};

TEST(AddressSearchThreadTest, StopEndsARunningSearchAndTheDestructorJoins) {
    std::atomic<int> endings{0};
    emulators::HcLine line({Device(2, 11)});
    auto thread = std::make_unique<AddressSearchThread>();
    ASSERT_TRUE(thread->Start(Request(line.SlavePath(), 1, 255, false),
                              std::make_unique<CountingView>(endings)));
    EXPECT_TRUE(thread->Running());
    thread->RequestStop();
    EXPECT_TRUE(thread->WaitFinished(std::chrono::seconds(30)));
    EXPECT_FALSE(thread->Running());
    // A second search after a stopped one; the destructor stops and joins it.
    ASSERT_TRUE(thread->Start(Request(line.SlavePath(), 1, 255, false),
                              std::make_unique<CountingView>(endings)));
    thread.reset();
    EXPECT_EQ(endings.load(), 0);
}

TEST(AddressSearchThreadTest, ThreadThatCannotBeMadeIsReported) {
    AddressSearchThread thread([](std::function<void()>) -> std::thread {
        throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
    });
    std::atomic<int> endings{0};
    EXPECT_FALSE(thread.Start(Request("/nonexistent/tty", 1, 2, false),
                              std::make_unique<CountingView>(endings)));
    EXPECT_FALSE(thread.Running());
}

}  // namespace
}  // namespace calvix
