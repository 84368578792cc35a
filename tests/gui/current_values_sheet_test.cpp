// The current-values sheet printed into a PDF file and read back with poppler's tools.
#include "gui/current_values_sheet.h"

#include <gtest/gtest.h>

#include <QPageSize>
#include <QPrinter>
#include <QProcess>
#include <QRegularExpression>
#include <QStringList>
#include <QTemporaryDir>

#include "gui/rules/printer_choice.h"
#include "platform/codepage.h"

namespace calvix {
namespace {

QString RunTool(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(60000) || process.exitCode() != 0) {
        ADD_FAILURE() << program.toStdString() << " failed";
        return {};
    }
    return QString::fromUtf8(process.readAllStandardOutput());
}

class CurrentValuesSheetTest : public ::testing::Test {
  protected:
    std::vector<SheetLine> Lines() {
        CurrentFieldTexts fields;
        fields[0] = platform::Utf8ToCp1251("444,42 т/ч.");
        fields[2] = "##########";
        fields[16] = "3";
        return CurrentValuesSheet("08.12.2026", "16:40:00",
                                  platform::Utf8ToCp1251("Заводской номер: 12345"),
                                  platform::Utf8ToCp1251("Адрес: ул. Мира, 7"), fields);
    }
    bool Print(int orientation) {
        QPrinter printer(QPrinter::HighResolution);
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(pdf_);
        printer.setPageSize(QPageSize(QPageSize::A4));
        return PrintCurrentValuesSheet(printer, Lines(), 12, orientation);
    }
    QString Info() { return RunTool(QStringLiteral("pdfinfo"), {pdf_}); }
    bool Landscape() {
        const auto match =
            QRegularExpression(QStringLiteral("Page size:\\s+([\\d.]+) x ([\\d.]+)")).match(Info());
        EXPECT_TRUE(match.hasMatch());
        return match.captured(1).toDouble() > match.captured(2).toDouble();
    }
    QStringList TextLines() {
        const QString text = RunTool(QStringLiteral("pdftotext"),
                                     {QStringLiteral("-layout"), pdf_, QStringLiteral("-")});
        QStringList lines;
        for (const QString& line : text.split(QLatin1Char('\n'))) {
            if (!line.trimmed().isEmpty()) {
                lines.push_back(line.trimmed());
            }
        }
        return lines;
    }

    QTemporaryDir dir_;
    QString pdf_ = dir_.filePath(QStringLiteral("sheet.pdf"));
};

TEST_F(CurrentValuesSheetTest, OnePageWithTheSheetsLinesInOrder) {
    ASSERT_TRUE(Print(kPortraitOrientation));
    EXPECT_TRUE(Info().contains(QRegularExpression(QStringLiteral("Pages:\\s+1\\n"))));
    EXPECT_TRUE(Info().contains(QStringLiteral("Ведомость текущих данных"))) << "document title";
    EXPECT_FALSE(Landscape());
    const QStringList printed = TextLines();
    const std::vector<SheetLine> lines = Lines();
    ASSERT_EQ(printed.size(), static_cast<qsizetype>(lines.size()))
        << printed.join('\n').toStdString();
    for (std::size_t i = 0; i < lines.size(); ++i) {
        EXPECT_EQ(printed[static_cast<qsizetype>(i)],
                  QString::fromStdString(platform::Cp1251ToUtf8(lines[i].text)).trimmed())
            << i;
    }
    EXPECT_TRUE(printed[3].startsWith(QStringLiteral("444,42 т/ч. ____")));
    EXPECT_TRUE(printed[3].endsWith(QStringLiteral("Расход по трубопроводу 1")));
}

TEST_F(CurrentValuesSheetTest, OrientationOtherThanPortraitIsLandscape) {
    ASSERT_TRUE(Print(kLandscapeOrientation));
    EXPECT_TRUE(Landscape());
}

}  // namespace
}  // namespace calvix
