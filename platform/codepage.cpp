#include "platform/codepage.h"

#include <array>
#include <cstddef>

#include "platform/cp1251_literal.h"

namespace platform {
namespace {

constexpr char32_t kReplacement = 0xFFFD;
constexpr std::uint8_t kNoEquivalent = '?';

// 866 bytes 0x80..0xFF as Unicode code points.
constexpr char32_t kCp866High[128] = {
    0x0410, 0x0411, 0x0412, 0x0413, 0x0414, 0x0415, 0x0416, 0x0417,  // 80
    0x0418, 0x0419, 0x041A, 0x041B, 0x041C, 0x041D, 0x041E, 0x041F,  // 88
    0x0420, 0x0421, 0x0422, 0x0423, 0x0424, 0x0425, 0x0426, 0x0427,  // 90
    0x0428, 0x0429, 0x042A, 0x042B, 0x042C, 0x042D, 0x042E, 0x042F,  // 98
    0x0430, 0x0431, 0x0432, 0x0433, 0x0434, 0x0435, 0x0436, 0x0437,  // A0
    0x0438, 0x0439, 0x043A, 0x043B, 0x043C, 0x043D, 0x043E, 0x043F,  // A8
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562, 0x2556,  // B0
    0x2555, 0x2563, 0x2551, 0x2557, 0x255D, 0x255C, 0x255B, 0x2510,  // B8
    0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F,  // C0
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x2567,  // C8
    0x2568, 0x2564, 0x2565, 0x2559, 0x2558, 0x2552, 0x2553, 0x256B,  // D0
    0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580,  // D8
    0x0440, 0x0441, 0x0442, 0x0443, 0x0444, 0x0445, 0x0446, 0x0447,  // E0
    0x0448, 0x0449, 0x044A, 0x044B, 0x044C, 0x044D, 0x044E, 0x044F,  // E8
    0x0401, 0x0451, 0x0404, 0x0454, 0x0407, 0x0457, 0x040E, 0x045E,  // F0
    0x00B0, 0x2219, 0x00B7, 0x221A, 0x2116, 0x00A4, 0x25A0, 0x00A0,  // F8
};

char32_t HighToUnicode(const char32_t (&table)[128], std::uint8_t byte) {
    if (byte < 0x80) {
        return byte;
    }
    char32_t cp = table[byte - 0x80];
    return cp == 0 ? kReplacement : cp;
}

std::uint8_t UnicodeToHigh(const char32_t (&table)[128], char32_t cp) {
    if (cp < 0x80) {
        return static_cast<std::uint8_t>(cp);
    }
    for (std::size_t i = 0; i < 128; ++i) {
        if (table[i] == cp) {
            return static_cast<std::uint8_t>(0x80 + i);
        }
    }
    return kNoEquivalent;
}

using ByteMap = std::array<std::uint8_t, 256>;

// Report texts are converted line by line, so the byte-to-byte maps are built once.
ByteMap BuildMap(char32_t (*from)(std::uint8_t), std::uint8_t (*to)(char32_t)) {
    ByteMap map{};
    for (std::size_t b = 0; b < map.size(); ++b) {
        char32_t cp = from(static_cast<std::uint8_t>(b));
        map[b] = cp == kReplacement ? kNoEquivalent : to(cp);
    }
    return map;
}

std::string ApplyMap(const ByteMap& map, std::string_view text) {
    std::string out(text.size(), '\0');
    for (std::size_t i = 0; i < text.size(); ++i) {
        out[i] = static_cast<char>(map[static_cast<std::uint8_t>(text[i])]);
    }
    return out;
}

void AppendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

bool IsContinuation(std::uint8_t byte) {
    return (byte & 0xC0) == 0x80;
}

// Decodes one well-formed UTF-8 sequence at text[pos]; returns its length, or 0 when the bytes
// there do not start one (stray continuation, overlong form, surrogate, beyond U+10FFFF, cut off).
std::size_t DecodeUtf8(std::string_view text, std::size_t pos, char32_t& cp) {
    auto lead = static_cast<std::uint8_t>(text[pos]);
    std::size_t length = 0;
    char32_t minimum = 0;
    if (lead < 0x80) {
        cp = lead;
        return 1;
    } else if ((lead & 0xE0) == 0xC0) {
        length = 2;
        minimum = 0x80;
        cp = lead & 0x1F;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3;
        minimum = 0x800;
        cp = lead & 0x0F;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4;
        minimum = 0x10000;
        cp = lead & 0x07;
    } else {
        return 0;
    }
    if (text.size() - pos < length) {
        return 0;
    }
    for (std::size_t k = 1; k < length; ++k) {
        auto next = static_cast<std::uint8_t>(text[pos + k]);
        if (!IsContinuation(next)) {
            return 0;
        }
        cp = (cp << 6) | (next & 0x3F);
    }
    if (cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        return 0;
    }
    return length;
}

}  // namespace

char32_t Cp1251ToUnicode(std::uint8_t byte) {
    return HighToUnicode(detail::kCp1251High, byte);
}

char32_t Cp866ToUnicode(std::uint8_t byte) {
    return HighToUnicode(kCp866High, byte);
}

std::uint8_t UnicodeToCp1251(char32_t cp) {
    return UnicodeToHigh(detail::kCp1251High, cp);
}

std::uint8_t UnicodeToCp866(char32_t cp) {
    return UnicodeToHigh(kCp866High, cp);
}

std::string Cp1251ToCp866(std::string_view text) {
    static const ByteMap map = BuildMap(Cp1251ToUnicode, UnicodeToCp866);
    return ApplyMap(map, text);
}

std::string Cp866ToCp1251(std::string_view text) {
    static const ByteMap map = BuildMap(Cp866ToUnicode, UnicodeToCp1251);
    return ApplyMap(map, text);
}

std::string Cp866LettersToCp1251(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        auto byte = static_cast<std::uint8_t>(c);
        if (byte >= 0x80 && byte <= 0xAF) {
            byte = static_cast<std::uint8_t>(byte + 0x40);
        } else if (byte >= 0xE0 && byte <= 0xEF) {
            byte = static_cast<std::uint8_t>(byte + 0x10);
        } else if (byte == 0xF0) {
            byte = 0xA8;
        } else if (byte == 0xF1) {
            byte = 0xB8;
        } else if (byte == 0xFC) {
            byte = 0xB9;
        } else if (byte == 0xFF) {
            byte = ' ';
        }
        c = static_cast<char>(byte);
    }
    return out;
}

std::string Cp1251ToUtf8(std::string_view text) {
    std::string out;
    out.reserve(text.size() * 2);
    for (char c : text) {
        AppendUtf8(out, Cp1251ToUnicode(static_cast<std::uint8_t>(c)));
    }
    return out;
}

std::string Utf8ToCp1251(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    std::size_t pos = 0;
    while (pos < text.size()) {
        char32_t cp = 0;
        std::size_t length = DecodeUtf8(text, pos, cp);
        if (length == 0) {
            out += static_cast<char>(kNoEquivalent);
            ++pos;
            continue;
        }
        out += static_cast<char>(UnicodeToCp1251(cp));
        pos += length;
    }
    return out;
}

}  // namespace platform

namespace platform {

std::uint8_t Cp1251ToLower(std::uint8_t byte) {
    if (byte >= 'A' && byte <= 'Z') {
        return static_cast<std::uint8_t>(byte + 0x20);
    }
    if (byte >= 0xC0 && byte <= 0xDF) {  // А..Я
        return static_cast<std::uint8_t>(byte + 0x20);
    }
    switch (byte) {
        case 0xA8:  // Ё
            return 0xB8;
        case 0xAA:  // Є
            return 0xBA;
        case 0xAF:  // Ї
            return 0xBF;
        case 0xB2:  // І
            return 0xB3;
        case 0xA1:  // Ў
            return 0xA2;
        case 0xA5:  // Ґ
            return 0xB4;
        case 0x80:  // Ђ
            return 0x90;
        case 0x81:  // Ѓ
            return 0x83;
        case 0x8A:  // Љ
            return 0x9A;
        case 0x8C:  // Њ
            return 0x9C;
        case 0x8D:  // Ќ
            return 0x9D;
        case 0x8E:  // Ћ
            return 0x9E;
        case 0x8F:  // Џ
            return 0x9F;
        case 0xA3:  // Ј
            return 0xBC;
        case 0xBD:  // Ѕ
            return 0xBE;
        default:
            return byte;
    }
}

bool Cp1251EqualsIgnoreCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (Cp1251ToLower(static_cast<std::uint8_t>(a[i])) !=
            Cp1251ToLower(static_cast<std::uint8_t>(b[i]))) {
            return false;
        }
    }
    return true;
}

}  // namespace platform
