#include "gui/display_text.h"

#include "platform/codepage.h"

namespace calvix {

QString ToQt(std::string_view cp1251) {
    QString text = QString::fromStdString(platform::Cp1251ToUtf8(cp1251));
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return text;
}

std::string From1251Widget(const QString& text) {
    return platform::Utf8ToCp1251(text.toStdString());
}

}  // namespace calvix
