// The УПД catalog reader against emulated devices on pseudo-terminals: the port walk, the
// catalog's stop rules, the catalog file, the stop event and the handle's cancel.
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/cp1251_literal.h"
#include "tests/support/emulated_upd.h"
#include "tests/support/process.h"
#include "tests/support/scratch_folder.h"
#include "tests/workers/fake_main_thread.h"
#include "workers/uthreadreadupdcatalog.h"

namespace {

using emulators::UpdArchive;
using emulators::UpdFaults;
using std::chrono::milliseconds;
using workers::CThreadReadUPDCatalog;

UpdArchive Archive(std::string name) {
    return {std::move(name), std::vector<std::uint8_t>(40, 0x5A)};
}

UpdFaults Faults(bool silent, std::optional<unsigned> badEntry = {},
                 bool noAcknowledgement = false) {
    UpdFaults faults;
    faults.silent = silent;
    faults.badEntry = badEntry;
    faults.noAcknowledgement = noAcknowledgement;
    return faults;
}

template <typename Case>
std::string CaseName(const ::testing::TestParamInfo<Case>& row) {
    return row.param.name;
}

std::string Variable(int port) {
    return "CALVIX_COM" + std::to_string(port);
}

class CatalogReader : public ::testing::Test {
  protected:
    struct Report {
        int counter;
        int portTried;
        bool found;
        std::thread::id thread;
    };
    struct End {
        bool found = false;
        int portNumber = 0;
        int counter = 0;
        std::vector<std::string> lines;
    };

    // No port of this machine is ever touched: COM ports without an emulated device name
    // nothing that can be opened.
    CatalogReader() {
        for (int port = 1; port <= workers::kCatalogPorts; ++port) {
            ::setenv(Variable(port).c_str(),
                     (Folder() / ("no-port-" + std::to_string(port))).c_str(), 1);
        }
    }
    ~CatalogReader() override {
        main_.Shutdown();
        worker_ = workers::WorkerThread();
        devices_.clear();
        for (int port = 1; port <= workers::kCatalogPorts; ++port) {
            ::unsetenv(Variable(port).c_str());
        }
    }

    const std::filesystem::path& Folder() const { return scratch_.Path(); }
    std::filesystem::path Catalog() const { return Folder() / "_katalog"; }

    emulators::UpdLine& AddDevice(int port, std::vector<UpdArchive> archives, UpdFaults faults = {},
                                  emulators::UpdLineOptions options = {}) {
        devices_.push_back(std::make_unique<testsupport::EmulatedUpd>(port, std::move(archives),
                                                                      faults, std::move(options)));
        return devices_.back()->Line();
    }

    void Start(int port, std::string output = "_katalog", bool inlineCalls = false,
               milliseconds openPause = milliseconds(5)) {
        workers::CatalogSetup setup;
        if (!inlineCalls) {
            setup.runOnMainThread = main_.Function();
        }
        setup.workingFolder = Folder();
        setup.openPause = openPause;
        setup.answerPause = milliseconds(5);
        worker_ = CThreadReadUPDCatalog::Start(
            port, workers::kCatalogBaud, workers::kCatalogTimeoutMs, std::move(output), &window_,
            [this](void* window, const CThreadReadUPDCatalog& reader, bool found) {
                EXPECT_EQ(window, &window_);
                EXPECT_EQ(found, reader.Found());
                const std::lock_guard<std::mutex> lock(mutex_);
                ends_.push_back({found, reader.PortNumber(), reader.Counter(), reader.Lines()});
            },
            [this](void* window, const CThreadReadUPDCatalog& reader, bool found) {
                EXPECT_EQ(window, &window_);
                const std::lock_guard<std::mutex> lock(mutex_);
                reports_.push_back(
                    {reader.Counter(), reader.PortTried(), found, std::this_thread::get_id()});
            },
            stop_, setup);
    }

    // Pumps the stand-in main thread until the reader has ended; then joins it.
    bool RunToEnd() {
        const bool ended = main_.PumpUntil([&] { return !Ends().empty() && worker_.Finished(); });
        if (ended) {
            worker_.Join();
        }
        return ended;
    }

    std::vector<End> Ends() {
        const std::lock_guard<std::mutex> lock(mutex_);
        return ends_;
    }
    std::vector<Report> Reports() {
        const std::lock_guard<std::mutex> lock(mutex_);
        return reports_;
    }
    // The one end; every callback came on the main thread.
    End TheEnd() {
        const std::vector<End> ends = Ends();
        EXPECT_EQ(ends.size(), 1u);
        for (const Report& report : Reports()) {
            EXPECT_EQ(report.thread, main_.Id());
        }
        return ends.empty() ? End{} : ends.front();
    }
    std::vector<int> PortsTried() {
        std::vector<int> ports;
        for (const Report& report : Reports()) {
            ports.push_back(report.portTried);
        }
        return ports;
    }
    std::vector<int> Counters() {
        std::vector<int> counters;
        for (const Report& report : Reports()) {
            counters.push_back(report.counter);
        }
        return counters;
    }

    static std::string Text(const std::vector<std::string>& lines) {
        std::string text;
        for (const std::string& line : lines) {
            text += line + "\r\n";
        }
        return text;
    }

    testsupport::ScratchFolder scratch_;
    testsupport::FakeMainThread main_;
    int window_ = 0;
    std::shared_ptr<platform::Event> stop_ =
        std::make_shared<platform::Event>(platform::Event::Kind::kManualReset);
    std::mutex mutex_;
    std::vector<End> ends_;
    std::vector<Report> reports_;
    std::vector<std::unique_ptr<testsupport::EmulatedUpd>> devices_;
    workers::WorkerThread worker_;
};

struct SearchCase {
    const char* name;
    int start;
    int device;  // 0: none anywhere
    std::vector<int> tried;
};

class Search : public CatalogReader, public ::testing::WithParamInterface<SearchCase> {};

TEST_P(Search, WalksFromTheStartPortAndStopsWhereTheDeviceAnswers) {
    const SearchCase& row = GetParam();
    if (row.device != 0) {
        AddDevice(row.device, {Archive("A1"), Archive("B2")});
    }
    Start(row.start);
    ASSERT_TRUE(RunToEnd());
    const End end = TheEnd();
    const bool found = row.device != 0;
    EXPECT_EQ(PortsTried(), row.tried);
    std::vector<int> counters;
    for (int i = 1; i < static_cast<int>(row.tried.size()); ++i) {
        counters.push_back(i);
    }
    counters.push_back(found ? 8 : static_cast<int>(row.tried.size()));
    EXPECT_EQ(Counters(), counters);
    EXPECT_EQ(Reports().back().found, found);
    EXPECT_EQ(end.found, found);
    EXPECT_EQ(end.counter, 8);
    EXPECT_EQ(end.portNumber, found ? row.device : row.tried.front());
    EXPECT_EQ(std::filesystem::exists(Catalog()), found);
    if (found) {
        EXPECT_EQ(testsupport::ReadBytes(Catalog()), "1 - A1\r\n2 - B2\r\n");
    }
}

INSTANTIATE_TEST_SUITE_P(Ports, Search,
                         ::testing::Values(SearchCase{"Com5FromCom3", 3, 5, {3, 4, 5}},
                                           SearchCase{"Com1FromPort0", 0, 1, {1}},
                                           SearchCase{"Com2FromPort12", 12, 2, {1, 2}},
                                           SearchCase{"Com2FromCom8AfterTheWrap", 8, 2, {8, 1, 2}},
                                           SearchCase{
                                               "NoDeviceFromCom6", 6, 0, {6, 7, 8, 1, 2, 3, 4, 5}}),
                         CaseName<SearchCase>);

struct CatalogCase {
    const char* name;
    std::vector<UpdArchive> archives;
    UpdFaults faults;
    bool found;
    std::vector<std::string> lines;
};

class Entries : public CatalogReader, public ::testing::WithParamInterface<CatalogCase> {};

TEST_P(Entries, TheCatalogEndsByTheStopRules) {
    const CatalogCase& row = GetParam();
    AddDevice(1, row.archives, row.faults);
    Start(1);
    ASSERT_TRUE(RunToEnd());
    const End end = TheEnd();
    EXPECT_EQ(end.found, row.found);
    EXPECT_EQ(end.lines, row.lines);
    // A device that never answered leaves the walk going on over every port.
    EXPECT_EQ(PortsTried().size(), row.found ? 1u : 8u);
    ASSERT_EQ(std::filesystem::exists(Catalog()), row.found);
    if (row.found) {
        EXPECT_EQ(testsupport::ReadBytes(Catalog()), Text(row.lines));
    }
}

const std::string kSixteen(W1251("Теплосчётчик_012"));

INSTANTIATE_TEST_SUITE_P(
    Device, Entries,
    ::testing::Values(
        CatalogCase{"ThreeArchives",
                    {Archive("TV7 N1"), Archive("TV7 N2"), Archive("TV7 N3")},
                    {},
                    true,
                    {"1 - TV7 N1", "2 - TV7 N2", "3 - TV7 N3"}},
        CatalogCase{"EmptyCatalogGivesAnEmptyFile", {}, {}, true, {}},
        CatalogCase{"SixteenByteNameKeptByteForByte",
                    {Archive(kSixteen), Archive(std::string(W1251("Дом 5")))},
                    {},
                    true,
                    {"1 - " + kSixteen, "2 - " + std::string(W1251("Дом 5"))}},
        CatalogCase{"BadSecondEntryEndsTheList",
                    {Archive("A"), Archive("B"), Archive("C")},
                    Faults(false, 2u),
                    true,
                    {"1 - A"}},
        CatalogCase{
            "BadFirstEntryLeavesAnEmptyCatalog", {Archive("A")}, Faults(false, 1u), true, {}},
        CatalogCase{"SilentDevice", {Archive("A")}, Faults(true), false, {}},
        CatalogCase{"OpenNotAcknowledged", {Archive("A")}, Faults(false, {}, true), false, {}}),
    CaseName<CatalogCase>);

TEST_F(CatalogReader, AnEmptyOutputNameReadsTheCatalogWithoutAFile) {
    AddDevice(2, {Archive("A")});
    Start(2, "");
    ASSERT_TRUE(RunToEnd());
    const End end = TheEnd();
    EXPECT_TRUE(end.found);
    EXPECT_EQ(end.lines, std::vector<std::string>{"1 - A"});
    EXPECT_TRUE(std::filesystem::is_empty(Folder()));
}

TEST_F(CatalogReader, ACatalogFileThatCannotBeWrittenIsNotFoundAndEndsTheWalk) {
    std::filesystem::create_directory(Catalog());
    AddDevice(1, {Archive("A")});
    emulators::UpdLine& other = AddDevice(2, {Archive("B")});
    Start(8);
    ASSERT_TRUE(RunToEnd());
    const End end = TheEnd();
    EXPECT_FALSE(end.found);
    EXPECT_EQ(end.portNumber, 8);
    EXPECT_EQ(PortsTried(), (std::vector<int>{8, 1}));
    EXPECT_EQ(other.Stats().requests, 0u);
    EXPECT_TRUE(std::filesystem::is_directory(Catalog()));
}

struct StopCase {
    const char* name;
    bool answers;
};

class StopDuringPort2 : public CatalogReader, public ::testing::WithParamInterface<StopCase> {};

TEST_P(StopDuringPort2, ThePortIsFinishedAndNoFurtherPortTried) {
    const bool answers = GetParam().answers;
    emulators::UpdLineOptions options;
    options.trace = [stop = stop_](const std::string&) { stop->Set(); };
    AddDevice(2, {Archive("A")}, Faults(!answers), std::move(options));
    emulators::UpdLine& next = AddDevice(3, {Archive("B")});
    Start(1);
    ASSERT_TRUE(RunToEnd());
    const End end = TheEnd();
    EXPECT_TRUE(stop_->IsSet());
    EXPECT_EQ(end.found, answers);
    EXPECT_EQ(end.lines, answers ? std::vector<std::string>{"1 - A"} : std::vector<std::string>{});
    EXPECT_EQ(PortsTried(), (std::vector<int>{1, 2}));
    EXPECT_EQ(Counters(), (std::vector<int>{1, answers ? 8 : 2}));
    EXPECT_EQ(next.Stats().requests, 0u);
    EXPECT_EQ(std::filesystem::exists(Catalog()), answers);
}

INSTANTIATE_TEST_SUITE_P(Stop, StopDuringPort2,
                         ::testing::Values(StopCase{"SilentPort", false},
                                           StopCase{"AnsweringPort", true}),
                         CaseName<StopCase>);

TEST_F(CatalogReader, AStopSetBeforeTheStartTriesNoPort) {
    emulators::UpdLine& device = AddDevice(1, {Archive("A")});
    stop_->Set();
    Start(1);
    ASSERT_TRUE(RunToEnd());
    const End end = TheEnd();
    EXPECT_FALSE(end.found);
    EXPECT_EQ(end.counter, 0);
    EXPECT_TRUE(Reports().empty());
    EXPECT_EQ(device.Stats().requests, 0u);
    EXPECT_FALSE(std::filesystem::exists(Catalog()));
}

TEST_F(CatalogReader, DestroyingTheHandleMidRunEndsItNotFound) {
    emulators::UpdLine& device = AddDevice(1, {Archive("A")});
    // Callbacks on the worker's thread: the test thread is free to join it.
    Start(8, "_katalog", true, std::chrono::minutes(10));
    ASSERT_TRUE(testsupport::WaitFor([&] { return !Reports().empty(); }, std::chrono::seconds(30)));
    const auto before = std::chrono::steady_clock::now();
    worker_ = workers::WorkerThread();  // cancels port 1's long pause and joins
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::minutes(1));
    const std::vector<End> ends = Ends();
    ASSERT_EQ(ends.size(), 1u);
    EXPECT_FALSE(ends.front().found);
    EXPECT_EQ(PortsTried(), std::vector<int>{8});
    EXPECT_EQ(device.Stats().requests, 0u);
    EXPECT_FALSE(std::filesystem::exists(Catalog()));
}

}  // namespace
