// What every emulated line owns: the pseudo-terminal, the eventfd that stops its serving thread,
// the symbolic link that names it, and the thread itself.
#pragma once

#include <termios.h>

#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace emulators {

class LineService {
  public:
    // Opens the pseudo-terminal (raw slave at `speed`, kept open) and the eventfd, and makes the
    // link when `linkPath` is not empty; std::runtime_error on failure, nothing left open.
    LineService(speed_t speed, bool blockingReads, std::string linkPath);
    ~LineService();  // Stop()
    LineService(const LineService&) = delete;
    LineService& operator=(const LineService&) = delete;

    // Runs `serve` on the line's thread; it must return once Wake() is readable.
    void Start(std::function<void()> serve);
    // Idempotent: wakes the thread, joins it, removes the link, closes the pseudo-terminal.
    void Stop();

    // From the serving thread only: closes both sides of the pseudo-terminal, so that a client
    // sees the line vanish as when a USB adapter is pulled; the thread should return after it.
    void Hangup();
    bool HungUp() const { return master_ < 0; }

    int Master() const { return master_; }
    int Wake() const { return wake_; }  // readable once Stop() began
    const std::string& SlavePath() const { return slavePath_; }

  private:
    void Close();

    int master_ = -1;
    int slave_ = -1;  // kept open so that clients may come and go and raw mode stays
    int wake_ = -1;
    std::string slavePath_;
    std::string linkPath_;  // empty when no link was made
    std::thread thread_;
    std::mutex stopMutex_;
    bool stopped_ = false;
};

}  // namespace emulators
