// CThreadExtProc: runs external programs in the background and waits for them within a time
// budget, so that the main window stays responsive.
//   single mode: one command line, waited for budget x 1000 + 1 ms (the report builder);
//   list mode: the program lines of a command-list file with two substitution values, one
//   shared budget counted in seconds, progress every second and a stop event (the УПД download).
// It ends by calling the end callback on the main thread exactly once, also after an internal
// error. Ownership and shut-down: see workers/worker_thread.h.
#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/event.h"
#include "workers/worker_thread.h"

namespace platform {
class ChildProcess;
}

namespace workers {

// The budgets the main window gives: the report builder, and the download through "_file.bat".
inline constexpr int kBuilderBudgetSeconds = 30;
inline constexpr int kDownloadBudgetSeconds = 600;

// What the runner takes from its surroundings; the program keeps the defaults but for the first.
struct ExtProcSetup {
    RunOnMainThread runOnMainThread;
    // Programs and the command-list file are found here, and programs run here.
    std::filesystem::path workingFolder = ".";
    // One second of a budget (tests shorten it).
    std::chrono::milliseconds second{1000};
};

class CThreadExtProc {
  public:
    using EndCallback = std::function<void(void* mainWindow, bool succeeded)>;
    using ProgressCallback = std::function<void(void* mainWindow, const CThreadExtProc& worker)>;

    // Single mode; starts at once. Throws std::system_error when no thread can be made (then
    // no callback is ever called).
    [[nodiscard]] static WorkerThread StartSingle(std::string commandLine, int timeBudget,
                                                  void* mainWindow, EndCallback onEnd,
                                                  ExtProcSetup setup);
    // List mode; starts at once. The stop event may be null; the worker only looks at it, never
    // resets it, and keeps it alive while it runs.
    [[nodiscard]] static WorkerThread StartList(std::string commandText,
                                                std::shared_ptr<platform::Event> stopEvent,
                                                ProgressCallback onProgress, EndCallback onEnd,
                                                void* mainWindow, int timeBudget,
                                                ExtProcSetup setup);

    // Read by the progress callback.
    const std::string& ElapsedText() const { return elapsedText_; }
    int Position() const { return position_; }
    int Maximum() const { return maximum_; }

    CThreadExtProc(const CThreadExtProc&) = delete;
    CThreadExtProc& operator=(const CThreadExtProc&) = delete;
    ~CThreadExtProc() = default;

  private:
    CThreadExtProc(std::string commandText, int timeBudget, void* mainWindow, EndCallback onEnd,
                   ProgressCallback onProgress, std::shared_ptr<platform::Event> stopEvent,
                   bool listMode, ExtProcSetup setup);
    static WorkerThread Run(std::shared_ptr<CThreadExtProc> worker);

    void Execute();
    void RunSingle();
    void RunList();
    // Waits for one program of the list in budget seconds; false when the list must stop.
    bool WaitInSteps(platform::ChildProcess& child, int& remaining);
    void OnMainThread(const std::function<void()>& call);

    std::string commandText_;
    int timeBudget_;
    void* mainWindow_;
    EndCallback onEnd_;
    ProgressCallback onProgress_;
    bool succeeded_ = false;
    std::shared_ptr<platform::Event> stopEvent_;
    bool listMode_;
    std::chrono::steady_clock::time_point startTime_;
    std::string elapsedText_;
    int position_ = 0;
    int maximum_ = 0;

    ExtProcSetup setup_;
    std::shared_ptr<WorkerControl> control_;
};

// The rules of list mode, exposed for their tests.
namespace extproc {

struct CommandText {
    std::string listFile;
    std::string value1;
    std::string value2;
};

// Trimmed, then up to three parts separated by a space, the rest trimmed after each part; text
// after the third part is dropped.
CommandText SplitCommandText(std::string_view text);

// The file's lines: ended by CR LF, LF or CR; no empty line after the last line end.
std::vector<std::string> TextLines(std::string_view text);

// A program line: its first word (trimmed line up to the first space) contains ".exe", case
// and all.
bool IsProgramLine(std::string_view line);

// Every "%1" becomes value 1 unless that is empty, then every "%2" value 2 likewise.
std::string Substitute(std::string line, const std::string& value1, const std::string& value2);

// "Общее время считывания: M мин S сек" (1251) for the minutes and seconds of the time of day
// that `elapsed` makes.
std::string ReadingTimeText(std::chrono::milliseconds elapsed);

}  // namespace extproc

}  // namespace workers
