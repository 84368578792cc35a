// CThreadReadUPDCatalog: finds the data transfer device (УПД) on one of COM1..COM8 and reads its
// catalog into a text file, in the background, while the main window shows a stoppable wait.
// The walk starts at the configured port and tries every port once; the stop event is looked at
// before each port (a port being tried finishes first). The catalog file holds "n - name" lines
// ended by CR LF and is replaced whole. The end callback comes exactly once, on the main thread,
// also after an internal error. Ownership and shut-down: see workers/worker_thread.h.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/event.h"
#include "workers/worker_thread.h"

namespace updtools {
class UpdPort;
}

namespace workers {

// What the main window hands over: port 1..8 first tried, 9600 baud, 200 ms, "_katalog".
inline constexpr std::uint32_t kCatalogBaud = 9600;
inline constexpr std::uint32_t kCatalogTimeoutMs = 200;
inline constexpr int kCatalogPorts = 8;

struct CatalogSetup {
    RunOnMainThread runOnMainThread;            // empty: callbacks on the worker thread (tests)
    std::filesystem::path workingFolder = ".";  // the output file name is resolved against it
    std::chrono::milliseconds openPause{400};   // the waits of the port trial; tests may shorten
    std::chrono::milliseconds answerPause{100};
};

class CThreadReadUPDCatalog {
  public:
    using EndCallback =
        std::function<void(void* mainWindow, const CThreadReadUPDCatalog& reader, bool found)>;
    using ProgressCallback =
        std::function<void(void* mainWindow, const CThreadReadUPDCatalog& reader, bool found)>;

    // Starts at once; throws std::system_error when no thread can be made (no callback then).
    // The stop event may be null; the reader only looks at it and keeps it alive while it runs.
    [[nodiscard]] static WorkerThread Start(int portNumber, std::uint32_t baud,
                                            std::uint32_t timeoutMs, std::string outputFile,
                                            void* mainWindow, EndCallback onEnd,
                                            ProgressCallback onProgress,
                                            std::shared_ptr<platform::Event> stopEvent,
                                            CatalogSetup setup);

    // At the end: the port where the device answered (else the start port).
    int PortNumber() const { return portNumber_; }
    int PortTried() const { return portTried_; }
    // Ports tried so far; 8 once found.
    int Counter() const { return counter_; }
    bool Found() const { return found_; }
    // "n - name", in reading order.
    const std::vector<std::string>& Lines() const { return lines_; }

    CThreadReadUPDCatalog(const CThreadReadUPDCatalog&) = delete;
    CThreadReadUPDCatalog& operator=(const CThreadReadUPDCatalog&) = delete;
    ~CThreadReadUPDCatalog() = default;

  private:
    enum class Trial { kNoAnswer, kAnswered, kCancelled };

    CThreadReadUPDCatalog(int portNumber, std::uint32_t baud, std::uint32_t timeoutMs,
                          std::string outputFile, void* mainWindow, EndCallback onEnd,
                          ProgressCallback onProgress, std::shared_ptr<platform::Event> stopEvent,
                          CatalogSetup setup);

    void Execute();
    void Walk();
    Trial TryPort(int port, std::vector<std::string>& lines);
    Trial ReadEntries(updtools::UpdPort& port, std::vector<std::string>& lines);
    bool SaveCatalog() const;
    bool StopAsked() const;
    bool Cancelled() const;
    // Waits `pause` unless the handle cancels first; false when it did.
    bool Pause(std::chrono::milliseconds pause) const;
    void Progress();
    void OnMainThread(const std::function<void()>& call);

    int startPort_;
    int portNumber_;
    int portTried_;
    std::uint32_t baud_;
    std::uint32_t timeoutMs_;
    std::string outputFile_;
    void* mainWindow_;
    EndCallback onEnd_;
    ProgressCallback onProgress_;
    bool found_ = false;
    int counter_ = 0;
    std::vector<std::string> lines_;
    std::shared_ptr<platform::Event> stopEvent_;

    CatalogSetup setup_;
    std::shared_ptr<WorkerControl> control_;
};

}  // namespace workers
