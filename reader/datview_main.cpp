// datview: lists the records of a data file, one line each, for people and for the demo.
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

void PrintHex(const std::vector<unsigned char>& bytes, std::size_t from, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        std::printf("%s%02X", i == 0 ? "" : " ", bytes[from + i]);
    }
}

void PrintText(const std::vector<unsigned char>& bytes, std::size_t from, std::size_t count) {
    std::putchar('"');
    for (std::size_t i = 0; i < count; ++i) {
        unsigned char c = bytes[from + i];
        std::putchar(c >= 0x20 && c < 0x7F ? c : '.');
    }
    std::putchar('"');
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: datview DATA_FILE\n");
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "datview: cannot open %s\n", argv[1]);
        return 1;
    }
    const std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(in)),
                                           std::istreambuf_iterator<char>());
    std::printf("%-7s %-5s %-14s %s\n", "offset", "L", "tag", "data");
    std::size_t offset = 0;
    int records = 0;
    while (offset + 2 <= bytes.size()) {
        const std::size_t length =
            (static_cast<std::size_t>(bytes[offset]) << 8) | bytes[offset + 1];
        if (offset + 2 + length > bytes.size()) {
            std::printf("%-7zu %-5zu truncated record: %zu bytes missing\n", offset, length,
                        offset + 2 + length - bytes.size());
            return 1;
        }
        std::printf("%-7zu %-5zu ", offset, length);
        const std::size_t body = offset + 2;
        if (length >= 6 && bytes[body] == 5) {
            PrintHex(bytes, body + 1, 5);
            std::printf("  ");
            const std::size_t dataLength = length - 6;
            const std::size_t shown = dataLength < 24 ? dataLength : 24;
            if (bytes[body + 1] == 0xFF) {
                PrintText(bytes, body + 6, dataLength);
            } else {
                PrintHex(bytes, body + 6, shown);
                if (shown < dataLength) {
                    std::printf(" ... (%zu bytes)", dataLength);
                }
            }
        } else {
            std::printf("(no tag: %zu bytes)", length);
        }
        std::printf("\n");
        offset = body + length;
        ++records;
    }
    if (offset != bytes.size()) {
        std::printf("%zu stray bytes at the end\n", bytes.size() - offset);
        return 1;
    }
    std::printf("%d records, %zu bytes\n", records, bytes.size());
    return 0;
}
