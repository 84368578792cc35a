// Russian literals are written in UTF-8 in the source and turned into Windows-1251 bytes at
// compile time, so a literal cannot be mis-encoded:  W1251("Ошибка связи.") is a
// std::string_view of 1251 bytes with static storage.
#pragma once

#include <array>
#include <cstddef>
#include <string_view>

namespace platform::detail {

template <std::size_t N>
struct Utf8Literal {
    char bytes[N]{};
    consteval Utf8Literal(const char (&text)[N]) {  // NOLINT: implicit by design
        for (std::size_t i = 0; i < N; ++i) {
            bytes[i] = text[i];
        }
    }
};

// 1251 bytes 0x80..0xFF as Unicode code points (0 where undefined).
inline constexpr char32_t kCp1251High[128] = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021,  // 80
    0x20AC, 0x2030, 0x0409, 0x2039, 0x040A, 0x040C, 0x040B, 0x040F,  // 88
    0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90
    0,      0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F,  // 98
    0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7,  // A0
    0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407,  // A8
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7,  // B0
    0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457,  // B8
    0x0410, 0x0411, 0x0412, 0x0413, 0x0414, 0x0415, 0x0416, 0x0417,  // C0
    0x0418, 0x0419, 0x041A, 0x041B, 0x041C, 0x041D, 0x041E, 0x041F,  // C8
    0x0420, 0x0421, 0x0422, 0x0423, 0x0424, 0x0425, 0x0426, 0x0427,  // D0
    0x0428, 0x0429, 0x042A, 0x042B, 0x042C, 0x042D, 0x042E, 0x042F,  // D8
    0x0430, 0x0431, 0x0432, 0x0433, 0x0434, 0x0435, 0x0436, 0x0437,  // E0
    0x0438, 0x0439, 0x043A, 0x043B, 0x043C, 0x043D, 0x043E, 0x043F,  // E8
    0x0440, 0x0441, 0x0442, 0x0443, 0x0444, 0x0445, 0x0446, 0x0447,  // F0
    0x0448, 0x0449, 0x044A, 0x044B, 0x044C, 0x044D, 0x044E, 0x044F,  // F8
};

constexpr std::size_t Utf8SequenceLength(unsigned char lead) {
    if (lead < 0x80)
        return 1;
    if ((lead & 0xE0) == 0xC0)
        return 2;
    if ((lead & 0xF0) == 0xE0)
        return 3;
    if ((lead & 0xF8) == 0xF0)
        return 4;
    throw "invalid UTF-8 in a 1251 literal";
}

struct DecodedChar {
    char32_t cp;
    std::size_t length;
};

// One UTF-8 sequence of a literal; ill-formed input (a bad continuation byte, a sequence cut off
// by the end, an overlong form) stops the compilation rather than turning into a wrong letter.
template <std::size_t N>
constexpr DecodedChar DecodeAt(const Utf8Literal<N>& text, std::size_t i) {
    auto lead = static_cast<unsigned char>(text.bytes[i]);
    std::size_t len = Utf8SequenceLength(lead);
    if (i + len > N - 1) {
        throw "UTF-8 sequence cut off in a 1251 literal";
    }
    char32_t cp = len == 1   ? lead
                  : len == 2 ? (lead & 0x1F)
                  : len == 3 ? (lead & 0x0F)
                             : (lead & 0x07);
    for (std::size_t k = 1; k < len; ++k) {
        auto next = static_cast<unsigned char>(text.bytes[i + k]);
        if ((next & 0xC0) != 0x80) {
            throw "invalid UTF-8 in a 1251 literal";
        }
        cp = (cp << 6) | (next & 0x3F);
    }
    constexpr char32_t kMinimum[5] = {0, 0, 0x80, 0x800, 0x10000};
    if (len > 1 && cp < kMinimum[len]) {
        throw "overlong UTF-8 in a 1251 literal";
    }
    return {cp, len};
}

template <std::size_t N>
constexpr std::size_t CodePointCount(const Utf8Literal<N>& text) {
    std::size_t count = 0;
    for (std::size_t i = 0; i + 1 < N; i += DecodeAt(text, i).length) {
        ++count;
    }
    return count;
}

constexpr char EncodeCp1251(char32_t cp) {
    if (cp < 0x80)
        return static_cast<char>(cp);
    for (unsigned i = 0; i < 128; ++i) {
        if (kCp1251High[i] == cp)
            return static_cast<char>(0x80 + i);
    }
    throw "character has no Windows-1251 form";
}

template <Utf8Literal Text>
struct Cp1251Storage {
    static constexpr std::size_t kSize = CodePointCount(Text);
    static constexpr std::array<char, kSize + 1> Build() {
        std::array<char, kSize + 1> out{};
        std::size_t o = 0;
        std::size_t i = 0;
        while (i + 1 < sizeof(Text.bytes)) {
            DecodedChar decoded = DecodeAt(Text, i);
            out[o++] = EncodeCp1251(decoded.cp);
            i += decoded.length;
        }
        return out;
    }
    static constexpr std::array<char, kSize + 1> kBytes = Build();
};

}  // namespace platform::detail

namespace platform {

template <detail::Utf8Literal Text>
consteval std::string_view Cp1251() {
    return {detail::Cp1251Storage<Text>::kBytes.data(), detail::Cp1251Storage<Text>::kSize};
}

}  // namespace platform

#define W1251(text) (::platform::Cp1251<text>())
