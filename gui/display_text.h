// The display edge: Windows-1251 texts become QString only here, and back.
#pragma once

#include <QString>
#include <string>
#include <string_view>

namespace calvix {

// 1251 text for a widget; CR LF line breaks become single line breaks.
QString ToQt(std::string_view cp1251);
// Widget text as 1251 ('?' for characters that 1251 cannot hold).
std::string From1251Widget(const QString& text);

}  // namespace calvix
