// Dump files of the portable data transfer device (УПД): what it holds after it has read a
// version-60 heat calculator. The dump is made from an emulated device's current state, so that
// converting it gives what reading the same device directly gives. docs/emulators.md lists the
// records and their offsets.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace emulators {

class HcDevice;

// The kinds of records, in the order they appear.
enum class DumpPart : std::uint8_t {
    Start,      // FF 00 35 41 00
    Clock,      // E6 00 36 11 00
    Identity,   // E6 00 39 40 00, field (101,0,57)
    Address,    // E6 00 3A 40 00, field (101,0,58)
    Settings,   // E6 00 3D 20 00, field (101,0,31) or (101,0,30)
    Pipeline1,  // E6 01 3D 26 00, field (230,1,31) or (230,1,30)
    Pipeline2,  // E6 02 3D 26 00, field (230,2,31) or (230,2,30)
    Hourly,     // 21 00 kk kk 00, newest first
    Daily,      // 22 00 kk kk 00, today first
    Monthly,    // 23 00 kk kk 00, the current month first
    Stop,       // FF 01 35 41 00
};

// The bytes a device sends to fill the last 16-byte block of a dump.
enum class DumpPadding : std::uint8_t {
    Zero,
    Ff,
    None,  // the records alone, as no device delivers them
};

inline constexpr std::size_t kUpdBlockSize = 16;  // bytes of one block of a download

struct UpdDumpOptions {
    bool clockWithoutYear = false;  // clock record of five values (L = 11)
    std::vector<DumpPart> drop;     // kinds of records left out
    // Data byte 14 of the settings record in place of the device's version.
    std::optional<std::uint8_t> versionByte;
    DumpPadding padding = DumpPadding::Zero;
    // Padding bytes after the records make the file this long; it need not be whole blocks
    // (1 024 001 is one byte over the limit). Zero bytes when `padding` is None.
    std::size_t padTo = 0;
    // Blocks that never arrived, numbered from 1 as a download counts them: the file is what a
    // download that skipped them leaves. Taken out after padding.
    std::vector<std::size_t> lostBlocks;
    // Cut the file after this many bytes (after padding and lost blocks).
    std::optional<std::size_t> truncateAt;
};

// The largest dump the workstation converts.
inline constexpr std::size_t kUpdDumpLimit = 1024000;

// Throws std::invalid_argument when the device is not of version 60.
std::vector<std::uint8_t> MakeUpdDump(const HcDevice& device, const UpdDumpOptions& options = {});
// Throws std::runtime_error when the file cannot be written.
void WriteUpdDump(const HcDevice& device, const std::string& path,
                  const UpdDumpOptions& options = {});

// "start", "clock", "identity", "address", "settings", "pipeline1", "pipeline2", "hourly",
// "daily", "monthly", "stop".
std::optional<DumpPart> DumpPartByName(std::string_view name);
std::string DumpPartNames();  // the names above, separated by ", "

// "zero", "ff", "none".
std::optional<DumpPadding> DumpPaddingByName(std::string_view name);

}  // namespace emulators
