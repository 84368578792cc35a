// The least time a version-60 reading can take on a paced line: every byte on the wire, the
// pause after each address byte and the device's turnaround, the pauses around each mailbox
// command and the polls of answers still at status 0.
#pragma once

#include "emulators/hc_device.h"
#include "emulators/hc_line.h"

namespace bench {

inline constexpr unsigned kBaud = 9600;
inline constexpr unsigned kAnswerDelayMs = 2;
inline constexpr double kAddressPause = 0.010;
inline constexpr double kCommandPause = 0.070;  // version 60
inline constexpr double kMailboxPoll = 0.500;

// Over a modem call the address byte is not set apart by a parity switch: no pause after it.
inline double ReadingFloorSeconds(const emulators::HcStats& device,
                                  const emulators::LineStats& wire, bool addressPauses = true) {
    const unsigned frames = device.readFrames + device.writeFrames;
    const double byteTime = 11.0 / kBaud;
    const double wireTime = (wire.bytesReceived + wire.bytesSent) * byteTime;
    const double waits = frames * kAnswerDelayMs / 1000.0 + device.commands * 2 * kCommandPause +
                         device.statusZeroAnswers * kMailboxPoll;
    if (!addressPauses) {
        return wireTime + waits;
    }
    // The address byte of each request travels during the pause after it.
    return wireTime - frames * byteTime + frames * kAddressPause + waits;
}

}  // namespace bench
