// The device directory walk, over any way of reading device memory: the protocol object reads
// with retries and link recovery, a parameter-list line with one attempt per exchange.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

namespace protocol {

// Reads `count` bytes of device memory at `address`; false when the exchange failed.
using MemoryReader = std::function<bool(std::uint16_t address, unsigned count, std::uint8_t*)>;

enum class DirectoryLookup { kFound, kNotFound, kReadFailed };

// Where a field's data lie, from the device directory.
struct FieldLocation {
    std::uint8_t flags = 0;
    std::uint16_t address = 0;
    std::uint16_t size = 0;
};

// The group table of one root, read entry by entry only as far as lookups need, and never
// twice: a reader that keeps it reads the table once however many fields it looks up.
class GroupTable {
  public:
    explicit GroupTable(std::uint16_t root, unsigned maxGroups = 255);

    // The address of the group's first field entry.
    DirectoryLookup Find(const MemoryReader& read, std::uint8_t group, std::uint8_t subgroup,
                         std::uint16_t& firstEntry);

  private:
    struct Entry {
        std::uint8_t group;
        std::uint8_t subgroup;
        std::uint16_t firstEntry;
    };
    std::uint16_t root_;
    unsigned maxGroups_;
    bool rootRead_ = false;
    bool ended_ = false;  // the end mark or the group limit was reached
    std::uint16_t next_ = 0;
    std::vector<Entry> entries_;
};

// Follows a group's chain of field entries from `firstEntry` to the field.
DirectoryLookup FindFieldInChain(const MemoryReader& read, std::uint16_t firstEntry,
                                 std::uint8_t field, unsigned maxEntries, FieldLocation& location);

}  // namespace protocol
