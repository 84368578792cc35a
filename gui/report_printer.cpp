#include "gui/report_printer.h"

#include <QFont>
#include <QFontMetricsF>
#include <QPainter>
#include <QPen>
#include <QPrinter>
#include <algorithm>
#include <exception>
#include <vector>

#include "gui/display_text.h"
#include "platform/cp1251_literal.h"

namespace calvix {
namespace {

QFont PrintFont(int size) {
    QFont font(QStringLiteral("Courier New"));
    font.setStyleHint(QFont::TypeWriter);
    font.setPointSize(size);
    font.setKerning(false);
    return font;
}

void SetOrientation(QPrinter& printer, int orientation) {
    printer.setPageOrientation(orientation == kPortraitOrientation ? QPageLayout::Portrait
                                                                   : QPageLayout::Landscape);
}

bool SheetsFit(QPrinter& printer, const PrintJob& job, int size, int orientation) {
    SetOrientation(printer, orientation);
    const QRectF page = printer.pageRect(QPrinter::DevicePixel);
    const QFontMetricsF metrics(PrintFont(size), &printer);
    for (const PrintSheet& sheet : job.sheets) {
        qreal widest = 0;
        for (const std::string& line : sheet.lines) {
            widest = std::max(widest, metrics.horizontalAdvance(ToQt(line)));
        }
        const qreal height = metrics.height() * static_cast<qreal>(sheet.lines.size());
        if (widest > page.width() || height > page.height()) {
            return false;
        }
    }
    return true;
}

// The x of a column: the middle of the character at 1-based position p.
qreal ColumnX(const QFontMetricsF& metrics, std::size_t p) {
    return metrics.horizontalAdvance(QString(static_cast<qsizetype>(p), QLatin1Char('0'))) -
           metrics.horizontalAdvance(QLatin1Char('0')) / 2;
}

void DrawSheet(QPainter& painter, const PrintSheet& sheet,
               const std::vector<std::size_t>& columns) {
    const QFontMetricsF metrics(painter.font(), painter.device());
    const qreal lineHeight = metrics.height();
    std::vector<qreal> borders;
    qreal y = 0;
    for (std::size_t i = 0; i < sheet.drawn.size(); ++i) {
        painter.drawText(QPointF(0, y + metrics.ascent()), ToQt(sheet.drawn[i]));
        if (sheet.border[i]) {
            borders.push_back(y + lineHeight / 2);
        }
        y += lineHeight;
    }
    if (borders.empty() || columns.empty()) {
        return;
    }
    for (std::size_t p : columns) {
        const qreal x = ColumnX(metrics, p);
        painter.drawLine(QPointF(x, borders.front()), QPointF(x, borders.back()));
    }
    const qreal left = ColumnX(metrics, columns.front());
    const qreal right = ColumnX(metrics, columns.back());
    for (qreal at : borders) {
        painter.drawLine(QPointF(left, at), QPointF(right, at));
    }
}

bool DrawJob(QPrinter& printer, QPainter& painter, const PrintJob& job, int size) {
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(Qt::black, 1, Qt::SolidLine));
    painter.setFont(PrintFont(size));
    for (std::size_t k = 0; k < job.sheets.size(); ++k) {
        DrawSheet(painter, job.sheets[k], job.columns);
        if (k + 1 < job.sheets.size() && !printer.newPage()) {
            return false;
        }
    }
    return printer.printerState() != QPrinter::Error;
}

}  // namespace

PrintOutcome FitReport(QPrinter& printer, const PrintJob& job, int fontSize, int orientation) {
    const int chosen =
        orientation == kLandscapeOrientation ? kLandscapeOrientation : kPortraitOrientation;
    const int other = chosen == kPortraitOrientation ? kLandscapeOrientation : kPortraitOrientation;
    for (int size = fontSize;; --size) {
        if (SheetsFit(printer, job, size, chosen)) {
            return {true, size, chosen};
        }
        if (SheetsFit(printer, job, size, other) || size <= kSmallestFontSize) {
            return {true, size, other};
        }
    }
}

PrintOutcome PrintReport(QPrinter& printer, const PrintJob& job, int fontSize, int orientation) {
    PrintOutcome outcome;
    QPainter painter;
    try {
        outcome = FitReport(printer, job, fontSize, orientation);
        printer.setDocName(ToQt(W1251("Отчет")));
        if (!painter.begin(&printer)) {
            return PrintOutcome{false, outcome.fontSize, outcome.orientation};
        }
        outcome.ok = DrawJob(printer, painter, job, outcome.fontSize);
    } catch (const std::exception&) {
        outcome.ok = false;
    }
    if (painter.isActive()) {
        if (!outcome.ok) {
            printer.abort();
        }
        outcome.ok = painter.end() && outcome.ok;
    }
    return outcome;
}

}  // namespace calvix
