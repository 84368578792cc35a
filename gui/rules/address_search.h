// The address search: tries a range of network addresses with the device's factory-number
// command run by hand (three raw frames) and lists the heat calculators that answer. No Qt: the
// window gives it a view whose calls arrive on the search thread.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace calvix {

// The search's fixed waits; tests shorten them.
struct SearchWaits {
    std::chrono::milliseconds beforeAddress{50};  // before the address byte of every frame
    std::chrono::milliseconds afterAddressA{50};  // frame A: between the address byte and the rest
    std::chrono::milliseconds afterAddress{10};   // frames B and C: the same
    std::chrono::milliseconds repeatC{150};       // before frame C again while the status is 0
};

inline constexpr int kMaxStatusZeroRepeats = 80;
// The address that "Поиск в сети" leaves out.
inline constexpr int kOwnNetAddress = 3;
inline constexpr int kLastAddress = 255;

struct SearchRequest {
    std::string portName;  // "COM1".."COM8" (or a device path, for tests)
    std::uint32_t speed = 9600;
    int begin = 1;
    int end = kLastAddress;
    bool net = false;  // "Поиск в сети": address 3 is left out
    SearchWaits waits;
};

// What the search tells its window; every call comes from the search thread.
class SearchView {
  public:
    virtual ~SearchView() = default;
    // The port could not be opened; the search ends. `detail` (1251, may be empty) says why
    // when the operator can act on it.
    virtual void PortOpenFailed(const std::string& detail) = 0;
    // The address being tried (0 once the port is open, before the first one).
    virtual void ShowAddress(int address) = 0;
    // A device answered: its line for the list and how many have been found so far.
    virtual void Found(const std::string& text, int count) = 0;
    // A complete answer with a wrong checksum; the search goes on with the next address.
    virtual void FaultyDevice() = 0;
    // The last address has been tried; the port is closed.
    virtual void Finished() = 0;
    // A write failed; the search ends with the port closed.
    virtual void WriteFailed() = 0;
    // A read failed (an error, not a short answer); the search ends with the port closed.
    virtual void ReadFailed() = 0;
};

enum class SearchEnd { Finished, Stopped, PortNotOpened, WriteFailed, ReadFailed };

// A frame of the search completed for `address`: byte 0 the address, byte 6 the sum of 0..5.
enum class SearchFrame { A, B, C };
std::array<std::uint8_t, 7> MakeSearchFrame(SearchFrame frame, std::uint8_t address);

// The list line of a device: address, " - " and answer bytes 4..7 without the bytes FFh.
std::string FoundText(int address, const std::uint8_t (&answer)[13]);

// The whole search on the calling thread. The stop flag is looked at before each address (and
// before each repeat of frame C); a set flag ends the search without a call to the view.
SearchEnd RunAddressSearch(const SearchRequest& request, const std::atomic<std::uint8_t>& stop,
                           SearchView& view);

// The search thread of the window: one search at a time; the destructor stops and joins it.
class AddressSearchThread {
  public:
    using Spawner = std::function<std::thread(std::function<void()>)>;
    // `spawn` makes the thread (tests make it fail); the default is std::thread.
    explicit AddressSearchThread(Spawner spawn = {});
    ~AddressSearchThread();
    AddressSearchThread(const AddressSearchThread&) = delete;
    AddressSearchThread& operator=(const AddressSearchThread&) = delete;

    // Clears the stop flag and starts a search that reports to `view`; false when the thread
    // could not be made. A previous search, ended or stopped, is joined first.
    bool Start(SearchRequest request, std::unique_ptr<SearchView> view);
    // True from a successful Start until the search's body has returned.
    bool Running() const;
    void RequestStop() { stop_.store(1); }
    // Waits until the body has returned; false when it has not within `limit`.
    bool WaitFinished(std::chrono::milliseconds limit);
    // Joins a thread whose body has returned; nothing while it still runs or when none exists.
    void JoinIfFinished();

  private:
    void Join();

    Spawner spawn_;
    std::thread thread_;
    std::atomic<std::uint8_t> stop_{0};
    mutable std::mutex mutex_;
    std::condition_variable finishedChanged_;
    bool finished_ = true;
};

}  // namespace calvix
