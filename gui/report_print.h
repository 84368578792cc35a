// "Распечатать" of the text window: the shown report onto the chosen printer or into a PDF file.
#pragma once

#include <QObject>
#include <string>
#include <string_view>
#include <vector>

namespace calvix {

class TMainForm;

// Enables btPrintText and prints the report of mmText with the printer, font size and
// orientation of the printer choice box and the margins of the configuration.
class TReportPrint : public QObject {
  public:
    explicit TReportPrint(TMainForm& form);
    TReportPrint(const TReportPrint&) = delete;
    TReportPrint& operator=(const TReportPrint&) = delete;

  private:
    void btPrintTextClick();
    // Hides panText and shows the message on the error panel, which returns to panText.
    void Result(std::string_view message);
    // The 1251 lines mmText shows: the report's own lines, or the message shown instead.
    std::vector<std::string> ShownLines() const;
    void BackToStartFolder();

    TMainForm& form_;
};

}  // namespace calvix
