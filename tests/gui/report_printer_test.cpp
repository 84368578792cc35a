// Reports printed into PDF files and read back with poppler's tools: pages, page size, the text
// of each sheet and where it stands.
#include "gui/report_printer.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QPageSize>
#include <QPrinter>
#include <QProcess>
#include <QRegularExpression>
#include <QStringList>
#include <QTemporaryDir>

#include "platform/cp1251_literal.h"

namespace calvix {
namespace {

using Lines = std::vector<std::string>;

// A report whose table is `width` characters wide and has `rows` data rows.
Lines Report(int rows, int width = 17) {
    const std::string border =
        "+-----+" + std::string(static_cast<std::size_t>(width - 7), '-') + "+";
    const std::string pad(static_cast<std::size_t>(width - 17), ' ');
    Lines lines = {std::string(W1251("Ведомость")), "", border, "| day |  value  " + pad + "|",
                   border};
    for (int r = 1; r <= rows; ++r) {
        std::string day = std::to_string(r);
        day.insert(0, 5 - day.size(), ' ');
        lines.push_back("|" + day + "|  " + std::to_string(r * 10) + ".5" + "  " + pad + "|");
    }
    lines.push_back(border);
    lines.push_back("\tSigned");
    return lines;
}

QString RunTool(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(60000) || process.exitCode() != 0) {
        ADD_FAILURE() << program.toStdString() << " failed";
        return {};
    }
    return QString::fromUtf8(process.readAllStandardOutput());
}

struct Word {
    QString text;
    double xMin = 0, yMin = 0, xMax = 0;
};

class ReportPrinterTest : public ::testing::Test {
  protected:
    PrintOutcome Print(const Lines& lines, PrinterSettings settings, int fontSize = 10,
                       int orientation = kPortraitOrientation) {
        QPrinter printer(QPrinter::HighResolution);
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(pdf_);
        printer.setPageSize(QPageSize(QPageSize::A4));
        return PrintReport(printer, LayoutPrintJob(lines, settings), fontSize, orientation);
    }
    QString Info() { return RunTool(QStringLiteral("pdfinfo"), {pdf_}); }
    int Pages() {
        const auto match = QRegularExpression(QStringLiteral("Pages:\\s+(\\d+)")).match(Info());
        return match.hasMatch() ? match.captured(1).toInt() : -1;
    }
    bool Landscape() {
        const auto match =
            QRegularExpression(QStringLiteral("Page size:\\s+([\\d.]+) x ([\\d.]+)")).match(Info());
        EXPECT_TRUE(match.hasMatch());
        return match.captured(1).toDouble() > match.captured(2).toDouble();
    }
    QString PageText(int page) {
        const QString n = QString::number(page);
        return RunTool(QStringLiteral("pdftotext"),
                       {QStringLiteral("-layout"), QStringLiteral("-f"), n, QStringLiteral("-l"), n,
                        pdf_, QStringLiteral("-")});
    }
    // The first word of page 1 with its box in points.
    Word FirstWord() {
        const QString html =
            RunTool(QStringLiteral("pdftotext"),
                    {QStringLiteral("-bbox"), QStringLiteral("-f"), QStringLiteral("1"),
                     QStringLiteral("-l"), QStringLiteral("1"), pdf_, QStringLiteral("-")});
        const auto match =
            QRegularExpression(QStringLiteral("<word xMin=\"([\\d.]+)\" yMin=\"([\\d.]+)\" "
                                              "xMax=\"([\\d.]+)\" yMax=\"[\\d.]+\">([^<]*)</word>"))
                .match(html);
        EXPECT_TRUE(match.hasMatch()) << html.toStdString();
        return {match.captured(4), match.captured(1).toDouble(), match.captured(2).toDouble(),
                match.captured(3).toDouble()};
    }

    QTemporaryDir dir_{QDir::tempPath() + QStringLiteral("/report_printer_XXXXXX")};
    QString pdf_ = dir_.filePath(QStringLiteral("report.pdf"));
};

PrinterSettings Settings(int leftMargin, int topMargin, int maxRows) {
    PrinterSettings s;
    s.leftMargin = leftMargin;
    s.topMargin = topMargin;
    s.maxTableRows = maxRows;
    return s;
}

const QString kTitle = QStringLiteral("Ведомость");

TEST_F(ReportPrinterTest, ShortReportIsOnePortraitPageWithoutSheetNumber) {
    const PrintOutcome outcome = Print(Report(20), PrinterSettings{});
    EXPECT_TRUE(outcome.ok);
    EXPECT_EQ(outcome.fontSize, 10);
    EXPECT_EQ(outcome.orientation, kPortraitOrientation);
    EXPECT_EQ(Pages(), 1);
    EXPECT_FALSE(Landscape());
    EXPECT_TRUE(Info().contains(QRegularExpression(QStringLiteral("Title:\\s+Отчет\n"))))
        << Info().toStdString();
    // "Courier New" is Liberation Mono here, as the package's fonts promise
    EXPECT_TRUE(
        RunTool(QStringLiteral("pdffonts"), {pdf_}).contains(QStringLiteral("LiberationMono")));
    const QString text = PageText(1);
    EXPECT_TRUE(text.contains(kTitle));
    EXPECT_FALSE(text.contains(QStringLiteral("Лист")));
    EXPECT_TRUE(text.contains(QStringLiteral("200.5")));
    EXPECT_TRUE(text.contains(QStringLiteral("Signed")));
    // the frame is drawn as lines, not printed as characters
    EXPECT_FALSE(text.contains(QLatin1Char('|')));
    EXPECT_FALSE(text.contains(QStringLiteral("+--")));
}

TEST_F(ReportPrinterTest, RowsPerSheetSplitTheTableWithTheHeadOnEveryPage) {
    const struct {
        int rows, maxRows, pages, fontSize;
    } cases[] = {
        {130, 62, 3, 10}, {25, 10, 3, 10}, {130, 100, 2, 6}};  // 108 lines fit A4 at 6 points only
    for (const auto& c : cases) {
        SCOPED_TRACE(c.maxRows);
        const PrintOutcome outcome = Print(Report(c.rows), Settings(4, 2, c.maxRows));
        ASSERT_TRUE(outcome.ok);
        EXPECT_EQ(outcome.fontSize, c.fontSize);
        ASSERT_EQ(Pages(), c.pages);
        for (int page = 1; page <= c.pages; ++page) {
            const QString text = PageText(page);
            EXPECT_TRUE(text.contains(kTitle + QStringLiteral(" , Лист ") + QString::number(page)))
                << text.toStdString();
            EXPECT_TRUE(text.contains(QRegularExpression(QStringLiteral("day\\s+value"))));
            const int firstRow = (page - 1) * c.maxRows + 1;
            EXPECT_TRUE(text.contains(QString::number(firstRow * 10) + QStringLiteral(".5")));
            EXPECT_EQ(text.contains(QStringLiteral("Signed")), page == c.pages);
        }
    }
}

TEST_F(ReportPrinterTest, OrientationAndSizeFollowTheWidestSheet) {
    const struct {
        int width, fontSize, orientation;
        int expectedSize, expectedOrientation;
    } cases[] = {
        {75, 16, kPortraitOrientation, 16,
         kLandscapeOrientation},  // too wide for portrait at 16 only
        {75, 16, kLandscapeOrientation, 16, kLandscapeOrientation},
        {40, 16, kLandscapeOrientation, 16, kLandscapeOrientation},  // fits as chosen
        {250, 16, kPortraitOrientation, 6,
         kLandscapeOrientation},  // fits nowhere: the other one at 6
        {250, 8, kLandscapeOrientation, 6, kPortraitOrientation},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.width);
        const PrintOutcome outcome =
            Print(Report(5, c.width), Settings(0, 0, 62), c.fontSize, c.orientation);
        EXPECT_TRUE(outcome.ok);
        EXPECT_EQ(outcome.fontSize, c.expectedSize);
        EXPECT_EQ(outcome.orientation, c.expectedOrientation);
        EXPECT_EQ(Landscape(), c.expectedOrientation == kLandscapeOrientation);
        // Liberation Mono's characters are 0.6 em wide
        const Word title = FirstWord();
        EXPECT_EQ(title.text, kTitle);
        EXPECT_NEAR((title.xMax - title.xMin) / 9, 0.6 * c.expectedSize, 0.1);
    }
}

TEST_F(ReportPrinterTest, MarginsMoveTheText) {
    ASSERT_TRUE(Print(Report(5), Settings(0, 0, 62)).ok);
    const Word flush = FirstWord();
    ASSERT_TRUE(Print(Report(5), Settings(20, 20, 62)).ok);
    const Word moved = FirstWord();
    EXPECT_NEAR(moved.xMin - flush.xMin, 20 * 0.6 * 10, 0.5);
    EXPECT_GT(moved.yMin - flush.yMin, 20 * 10);  // 20 lines of at least the font's size
    EXPECT_EQ(Pages(), 1);
}

TEST_F(ReportPrinterTest, PrinterThatCannotStartFails) {
    pdf_ = dir_.filePath(QStringLiteral("missing/report.pdf"));
    EXPECT_FALSE(Print(Report(5), PrinterSettings{}).ok);
}

}  // namespace
}  // namespace calvix
