// The report archive from the text window: "Сохранить", "Сохранить все", "Удалить" and
// "Удалить все".
#pragma once

#include <QObject>
#include <string>
#include <string_view>

class QPushButton;

namespace calvix {

class TMainForm;

// Enables the save and delete buttons of panText and does their work: saving the shown report
// or every created report into "Archive\", deleting the chosen archive reports.
class TReportArchive : public QObject {
  public:
    explicit TReportArchive(TMainForm& form);
    TReportArchive(const TReportArchive&) = delete;
    TReportArchive& operator=(const TReportArchive&) = delete;

  private:
    void btSaveTextClick();
    void btSaveAllTextClick();
    void btDeleteTextClick();
    void btDeleteAllTextClick();

    QPushButton* Button(const char* name);
    // Hides panText and shows the message on the error panel, which returns to panText.
    void Result(std::string_view message);
    void ErrorBox(std::string_view text);
    // The 1251 caption of an item of the report list.
    std::string ItemCaption(int index) const;
    // The title that saving puts before the caption; "Не определен, " when no data file was
    // inspected.
    std::string DeviceTitle();
    // True when mmText shows a message in place of the report.
    bool MemoShowsMessage() const;
    bool AskDelete(std::string_view question);
    void ShowNoReports();

    TMainForm& form_;
};

}  // namespace calvix
