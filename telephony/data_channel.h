// The data side of a connected call: what the modem receives in data mode is queued here and
// read with the Win32 COMMTIMEOUTS rules; writes go to the modem's port.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>

#include "platform/serial_port.h"
#include "telephony/line_api.h"

namespace telephony {

class DataChannel {
  public:
    // Writes to the port with the given write time-outs: 0, or the errno of the failure
    // (ETIMEDOUT when the total time-out ran out, with `done` bytes gone).
    using Writer = std::function<int(const std::uint8_t* bytes, std::size_t count,
                                     std::size_t& done, const platform::CommTimeouts& timeouts)>;

    explicit DataChannel(Writer writer);

    // From the line's worker: bytes received in data mode.
    void Deliver(const std::uint8_t* bytes, std::size_t count);
    // The call is over: reads and writes fail from now on.
    void Break();
    bool Broken() const;

    void SetTimeouts(const platform::CommTimeouts& timeouts);
    CommTransfer Read(std::uint8_t* buffer, std::size_t count, std::chrono::milliseconds limit);
    CommTransfer Write(const std::uint8_t* buffer, std::size_t count,
                       std::chrono::milliseconds limit);

  private:
    static constexpr std::size_t kInputLimit = 64 * 1024;  // bytes nobody reads are dropped

    std::size_t TakeLocked(std::uint8_t* buffer, std::size_t count);

    mutable std::mutex mutex_;
    std::condition_variable arrived_;
    std::deque<std::uint8_t> input_;
    bool broken_ = false;
    platform::CommTimeouts timeouts_{};
    Writer writer_;
};

}  // namespace telephony
