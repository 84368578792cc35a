// A working folder with the helper program, a stand-in main thread, and what the runner's
// callbacks reported.
#pragma once

#include <chrono>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "tests/platform/child_helper.h"
#include "tests/support/scratch_folder.h"
#include "tests/workers/fake_main_thread.h"
#include "workers/uthreadextproc.h"

namespace testsupport {

class RunnerTest : public ::testing::Test {
  protected:
    struct End {
        void* window;
        bool succeeded;
        std::thread::id thread;
    };
    struct Progress {
        int position;
        int maximum;
        std::string text;
        std::thread::id thread;
    };

    RunnerTest() { InstallHelper(Folder(), "prog.exe"); }
    // Workers still posting must not wait for a main thread that no longer pumps.
    ~RunnerTest() override { main_.Shutdown(); }

    const std::filesystem::path& Folder() const { return scratch_.Path(); }
    void WriteFile(const std::string& name, const std::string& text) {
        std::ofstream(Folder() / name, std::ios::binary) << text;
    }

    // Callbacks through the stand-in main thread; `inline`: on the worker's thread.
    workers::ExtProcSetup Setup(std::chrono::milliseconds second, bool inlineCalls = false) {
        workers::ExtProcSetup setup;
        if (!inlineCalls) {
            setup.runOnMainThread = main_.Function();
        }
        setup.workingFolder = Folder();
        setup.second = second;
        return setup;
    }

    workers::CThreadExtProc::EndCallback OnEnd() {
        return [this](void* window, bool succeeded) {
            const std::lock_guard<std::mutex> lock(mutex_);
            ends_.push_back({window, succeeded, std::this_thread::get_id()});
        };
    }
    workers::CThreadExtProc::ProgressCallback OnProgress() {
        return [this](void* window, const workers::CThreadExtProc& worker) {
            EXPECT_EQ(window, Window());
            const std::lock_guard<std::mutex> lock(mutex_);
            progress_.push_back({worker.Position(), worker.Maximum(), worker.ElapsedText(),
                                 std::this_thread::get_id()});
        };
    }

    std::vector<End> Ends() {
        const std::lock_guard<std::mutex> lock(mutex_);
        return ends_;
    }
    std::vector<Progress> ProgressCalls() {
        const std::lock_guard<std::mutex> lock(mutex_);
        return progress_;
    }

    // Pumps until the end callback came and the worker has finished; then joins it.
    bool RunToEnd(std::chrono::milliseconds limit = std::chrono::seconds(30)) {
        const bool ended =
            main_.PumpUntil([&] { return !Ends().empty() && worker_.Finished(); }, limit);
        if (ended) {
            worker_.Join();
        }
        return ended;
    }
    // The one end the worker reported.
    End TheEnd() {
        const std::vector<End> ends = Ends();
        EXPECT_EQ(ends.size(), 1u);
        return ends.empty() ? End{nullptr, true, {}} : ends.front();
    }

    void* Window() { return &window_; }

    ScratchFolder scratch_;
    FakeMainThread main_;
    int window_ = 0;
    std::mutex mutex_;
    std::vector<End> ends_;
    std::vector<Progress> progress_;
    workers::WorkerThread worker_;
};

}  // namespace testsupport
