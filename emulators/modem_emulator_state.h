// The modem emulator's state, shared by its two source files: the line and call handling
// (modem_emulator.cpp) and the command interpreter with the stored profile and DTR
// (modem_emulator_commands.cpp).
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "emulators/modem_emulator.h"

namespace emulators {
namespace modem_internal {

using Clock = std::chrono::steady_clock;

enum class Mode { Command, Dialing, Answering, Online, OnlineCommand, Off };

struct Request {
    enum class Kind { Ring, HangUp, SwitchOff };
    Kind kind = Kind::Ring;
    unsigned count = 0;
    unsigned periodMs = 0;
    std::string peer;
};

}  // namespace modem_internal

struct ModemEmulator::State {
    using Clock = modem_internal::Clock;
    using Mode = modem_internal::Mode;
    using Request = modem_internal::Request;

    ModemOptions options;
    int master = -1;
    int slave = -1;  // kept open so that clients may come and go and raw mode stays
    int wake = -1;
    int peer = -1;  // the far end of the call, when it is a device
    bool echoPeer = false;
    std::string slavePath;
    bool linkMade = false;
    std::thread thread;

    std::mutex stopMutex;  // serialises Stop()
    bool stopped = false;
    std::atomic<bool> stopping{false};

    mutable std::mutex mutex;  // stats, requests, fault
    ModemStats stats;
    std::deque<Request> requests;
    CommandFault fault = CommandFault::None;

    // The modem's thread only.
    Mode mode = Mode::Command;
    bool echo = true;
    bool verbose = true;
    bool quiet = false;
    unsigned reportMode = 2;               // W
    std::atomic<unsigned> carrierMode{1};  // &C; read by CarrierDetect() too
    unsigned dtrMode = 2;                  // &D
    bool applyingProfile = false;
    bool dtrOn = true;
    std::optional<Clock::time_point> resetDoneAt;  // a slow ATZ answers then
    unsigned registers[100] = {};
    std::string commandLine;
    unsigned connectedRate = 0;
    std::optional<Clock::time_point> resultAt;  // dial or answer result due
    DialPlan dialPlan;
    std::string answerPeer;
    // Ringing.
    unsigned ringsLeft = 0;
    unsigned ringPeriodMs = 0;
    unsigned ringsThisCall = 0;
    std::string ringPeer;
    std::optional<Clock::time_point> nextRingAt;
    std::optional<Clock::time_point> ringingEndsAt;
    // Escape detection in data mode.
    Clock::time_point lastDteByte{};
    unsigned plusCount = 0;
    std::optional<Clock::time_point> escapeAt;
    std::uint64_t noise = 0x9E3779B97F4A7C15ull;

    void Trace(const std::string& text) {
        if (options.trace) {
            options.trace(text);
        }
    }
    Clock::duration Guard() const { return std::chrono::milliseconds(options.guardMs); }

    void Open();
    void MakeLink();
    void RemoveLink();
    void Run();
    void TakeRequests();
    void OnTimers();
    void OnDteBytes(const std::uint8_t* bytes, std::size_t count);
    void OnCommandByte(std::uint8_t byte);
    void OnDataByte(std::uint8_t byte);
    void OnPeerBytes();
    void ExecuteLine(const std::string& line);
    void Interpret(const std::string& command, const std::string& original);
    bool Refused(const std::string& command, std::size_t from, std::size_t to) const;
    void ApplyProfile();
    void Reset();
    void WatchDtr();
    void OnDtrDrop();
    unsigned DteRate() const;
    void ReportConnect(unsigned rate);
    void Dial(const std::string& dial);
    void Answer();
    void GoOnline(const std::string& peerName, unsigned rate);
    void EndCall();
    void SendToPeer(const std::uint8_t* bytes, std::size_t count);
    void SendResult(int numeric, const std::string& text);
    void SendText(const std::string& text);
    void Write(const std::uint8_t* bytes, std::size_t count);
    void SwitchOffNow();
    void SetOnline(bool online);
};

}  // namespace emulators
