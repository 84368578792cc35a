#include "gui/current_values_sheet.h"

#include <QFont>
#include <QFontMetricsF>
#include <QPageLayout>
#include <QPainter>
#include <QPrinter>

#include "gui/display_text.h"
#include "gui/rules/printer_choice.h"
#include "platform/cp1251_literal.h"

namespace calvix {

namespace {
constexpr qreal kSheetUnitsPerInch = 600;
}  // namespace

bool PrintCurrentValuesSheet(QPrinter& printer, const std::vector<SheetLine>& lines, int fontSize,
                             int orientation) {
    printer.setPageOrientation(orientation == kPortraitOrientation ? QPageLayout::Portrait
                                                                   : QPageLayout::Landscape);
    printer.setDocName(ToQt(W1251("Ведомость текущих данных")));
    QPainter painter;
    if (!painter.begin(&printer)) {
        return false;
    }
    QFont font(QStringLiteral("Courier New"));
    font.setStyleHint(QFont::TypeWriter);
    font.setPointSize(fontSize);
    painter.setFont(font);
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(Qt::black, 1, Qt::SolidLine));
    // A line's position is the top of its text, not its base line.
    const qreal ascent = QFontMetricsF(painter.font(), painter.device()).ascent();
    // The offsets are meant for a 600 dpi printer; taken as device units they would overlap on
    // a finer one and run off the page on a coarser one.
    const qreal unitX = painter.device()->logicalDpiX() / kSheetUnitsPerInch;
    const qreal unitY = painter.device()->logicalDpiY() / kSheetUnitsPerInch;
    for (const SheetLine& line : lines) {
        painter.drawText(
            QPointF(kSheetLineX * unitX, (2 * fontSize + line.offset) * unitY + ascent),
            ToQt(line.text));
    }
    return painter.end();
}

}  // namespace calvix
