// The main window: one panel, panMain, with a stack of work panels of which one is shown at a
// time; the start folder, the configuration, the work state and the report lists.
#pragma once

#include <QMainWindow>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "gui/main_thread.h"
#include "gui/rules/checkbox_focus.h"
#include "gui/rules/configuration.h"
#include "gui/rules/report_dates.h"
#include "gui/rules/state_table.h"
#include "gui/rules/work_state.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QProgressBar;
class QPushButton;
class QScrollArea;
class QTextEdit;

namespace calvix {

class CaptionPanel;
class TAboutBox;
class TCloseBox;
class TDeleteBox;
class THelpBox;
class TSelectPrinterBox;

// Work that later parts of the program plug in. Each is optional; without it the window does
// what it can on its own.
struct WorkflowHooks {
    // Correction of a report text before it is shown, in work states other than 0.
    std::function<void(std::vector<std::string>& lines)> correctReport;
    // "Создать отчеты" in work states 1 and 4.
    std::function<void()> createReports;
    // Starts the УПД catalog read; false when it could not be started.
    std::function<bool()> startCatalogReader;
    // Conversion and inspection of a freshly taken data file (fills the device fields).
    std::function<void(std::string_view dataFile)> inspectDataFile;
    // Period names in the check-box captions.
    std::function<void()> afterReportBoxes;
    // The check boxes of the several-day window, after the period names.
    std::function<void()> severalDayBoxes;
};

class TMainForm : public QMainWindow {
  public:
    TMainForm();
    ~TMainForm() override;
    TMainForm(const TMainForm&) = delete;
    TMainForm& operator=(const TMainForm&) = delete;

    // The start-up steps failed; the program must end without showing the window.
    bool InitFailed() const { return initFailed_; }

    WorkflowHooks& Hooks() { return hooks_; }
    RunOnMainThread MainThread() { return caller_.Function(); }

    calvix::WorkState CurrentWorkState() const { return workState_; }
    void SetWorkState(calvix::WorkState state) { workState_ = state; }
    const std::filesystem::path& StartFolder() const { return startFolder_; }
    Configuration* Config() { return config_.get(); }
    const std::vector<std::string>& ReportCaptions() const { return reportCaptions_; }
    const std::vector<std::string>& MonthTemplates() const { return monthTemplates_; }
    const std::vector<std::string>& CreatedReports() const { return createdReports_; }
    const std::vector<std::string>& ReportLines() const { return reportLines_; }
    const std::vector<QCheckBox*>& ReportCheckBoxes() const { return reportCheckBoxes_; }
    int HorizontalRange() const { return horizontalRange_; }
    int VerticalRange() const { return verticalRange_; }
    // Device facts of the inspected data file (1251).
    void SetDeviceInfo(std::string_view title, std::string_view address, int version);
    const std::string& DeviceTitle() const { return deviceTitle_; }
    void SetDeviceTitle(std::string title) { deviceTitle_ = std::move(title); }
    int DeviceVersion() const { return deviceVersion_; }
    // Take date, reporting day, hourly dates and several-day range of the current data file.
    calvix::ReportDates& Dates() { return reportDates_; }
    const calvix::ReportDates& Dates() const { return reportDates_; }

    TAboutBox* AboutBox() const { return aboutBox_.get(); }
    TCloseBox* CloseBox() const { return closeBox_.get(); }
    TDeleteBox* DeleteBox() const { return deleteBox_.get(); }
    THelpBox* HelpBox() const { return helpBox_.get(); }
    TSelectPrinterBox* SelectPrinterBox() const { return printerBox_.get(); }

    QWidget* PanelWidget(Panel panel) const;
    // The error panel with a message; `returnPanel` is shown again by "Дальше".
    void ShowErrorPanel(std::string_view message, QWidget* returnPanel);
    // Heat-calculator workers write their message as the error panel's caption and choose the
    // panel that "Дальше" shows.
    void ShowHCErrorCaption(std::string_view message, HCErrorReturn returnTo);

    void PanReportMode();
    void CheckBoxFileReport();
    void LoadTemplateList(const std::string& section);
    void SaveTemplateMarks();
    void DataTaken(std::string_view dataFile);
    void OpenReport(std::string_view path);
    void OpenSelectedReport();
    // The report list of the text window (listViewReport) and its paths (createdReports):
    // replaced as a whole, or one entry removed.
    void SetCreatedReports(std::vector<std::string> paths,
                           const std::vector<std::string>& captions);
    void RemoveCreatedReport(int index);
    QListWidget* ReportList() const { return listViewReport_; }
    QTextEdit* Memo() const { return mmText_; }
    // A 14-point centred message in the text window instead of a report.
    void ShowMemoMessage(std::string_view cp1251);
    // Removes the report check box with this caption (the last one that has it); the boxes
    // below move up. False when there is none.
    bool RemoveReportCheckBox(std::string_view caption);
    // The 1251 caption and the template index a report check box carries.
    static std::string CheckBoxCaption(const QCheckBox* box);
    static std::size_t CheckBoxTag(const QCheckBox* box);
    void HelpF1();
    void ResizeMainForm();
    void SetStatusText(std::string_view cp1251);
    void ShowPanel(Panel panel);
    void HidePanel(Panel panel);
    // The address in "Абонент" when it is 1..255 (else nullopt); a changed address becomes the
    // configured one and the connection settings are stored.
    std::optional<int> TakeHCAddress();
    // The labels of the heat-calculator window from the connection settings.
    void ShowConnectionSettings();

  protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void BuildForm();
    void BuildSelectMode();
    void BuildWait();
    void BuildSelectArchiv();
    void BuildReport();
    void BuildViewReport();
    void BuildText();
    void BuildError();
    void BuildHCWork();
    void BuildHCPanels();
    CaptionPanel* AddPanel(Panel panel, int width, int height, std::string_view title);
    void Connect(QPushButton* button, void (TMainForm::*handler)());
    void Connect(QPushButton* button, NavButton navButton);

    void FormCreate();
    void FormDestroy();
    void Navigate(NavButton button);
    bool HandleKey(QKeyEvent* event);
    void HandleCheckBoxFocus(QCheckBox* box, bool entering);
    void FreeCheckBoxes();
    void UpdateScrollContent();
    // The report choice and report list panels follow the window's size.
    void LayoutReportControls();
    void LayoutViewReportControls();
    void PlaceReportList();
    void MeasureReportBoxes();
    void FitReportBoxes();
    int ReportViewWidth() const;
    bool MoveBoxFocus(QCheckBox* box, int step);
    void KeepBoxInView(const QCheckBox* box);

    // Handlers of the buttons.
    void btUPDModeClick();
    void btMemoModeClick();
    void btTV540ModeClick();
    void btHCRukovClick();
    void btStartRClick();
    void btAllClearRClick();
    void btNextTextClick();
    void btPrevTextClick();
    void btSelectReportTextClick();
    void btHCErrorClick();
    void CloseMainForm();

    MainThreadCaller caller_;
    WorkflowHooks hooks_;
    bool initFailed_ = false;
    bool askOnClose_ = false;
    bool destroyed_ = false;
    calvix::WorkState workState_ = WorkState::stArchive;
    std::filesystem::path startFolder_;
    std::unique_ptr<Configuration> config_;
    QWidget* returnPanel_ = nullptr;
    HCErrorReturn hcReturnTo_ = HCErrorReturn::HCWork;

    std::vector<std::string> reportLines_;
    std::vector<std::string> reportCaptions_;
    std::vector<std::string> monthTemplates_;
    std::vector<std::string> createdReports_;
    // In work state 0: the program path of each archive title's file, by check-box tag.
    std::vector<std::string> archiveFiles_;
    std::string templateSection_;
    std::string deviceTitle_;
    std::string addressText_;
    int deviceVersion_ = 0;
    calvix::ReportDates reportDates_;
    std::vector<QCheckBox*> reportCheckBoxes_;
    bool checkBoxListCreated_ = false;
    int horizontalRange_ = 0;
    int verticalRange_ = 0;
    CheckBoxFocusWrap focusWrap_;

    std::unique_ptr<TAboutBox> aboutBox_;
    std::unique_ptr<TCloseBox> closeBox_;
    std::unique_ptr<TDeleteBox> deleteBox_;
    std::unique_ptr<THelpBox> helpBox_;
    std::unique_ptr<TSelectPrinterBox> printerBox_;

    QWidget* panMain_ = nullptr;
    std::vector<std::pair<Panel, CaptionPanel*>> panels_;
    // Controls the window's code changes.
    QLabel* lb1Wait_ = nullptr;
    QLabel* lb1WaitTime_ = nullptr;
    QProgressBar* progressBarWait_ = nullptr;
    QListWidget* listSelectArchiv_ = nullptr;
    QLabel* lbTopReport_ = nullptr;
    QLabel* lbInfoReport_ = nullptr;
    QLabel* lb1R_ = nullptr;
    QScrollArea* scrollBoxReport_ = nullptr;
    QWidget* scrollContent_ = nullptr;
    QPushButton* btStartR_ = nullptr;
    QPushButton* btCalendarR_ = nullptr;
    QPushButton* btSeveralDaysR_ = nullptr;
    QPushButton* btAllClearR_ = nullptr;
    QPushButton* btReturnR_ = nullptr;
    QPushButton* btExitR_ = nullptr;
    int widestCaption_ = 0;  // pixels, of the report check boxes' captions
    QPushButton* btStartVR_ = nullptr;
    QPushButton* btReturnVR_ = nullptr;
    QPushButton* btExitVR_ = nullptr;
    QListWidget* listViewReport_ = nullptr;
    QLabel* lbTopText_ = nullptr;
    QTextEdit* mmText_ = nullptr;
    // The buttons of the text window, upper row then lower row.
    struct TextButtons {
        QPushButton* next = nullptr;          // btNextText
        QPushButton* selectReport = nullptr;  // btSelectReportText
        QPushButton* save = nullptr;          // btSaveText
        QPushButton* deleteOne = nullptr;     // btDeleteText
        QPushButton* back = nullptr;          // btReturnText
        QPushButton* prev = nullptr;          // btPrevText
        QPushButton* print = nullptr;         // btPrintText
        QPushButton* saveAll = nullptr;       // btSaveAllText
        QPushButton* deleteAll = nullptr;     // btDeleteAllText
        QPushButton* exit = nullptr;          // btExitText
    };
    TextButtons text_;
    QLabel* lbError_ = nullptr;
    QPushButton* btHCError_ = nullptr;
    QLabel* lbHCPortName_ = nullptr;
    QLabel* lbHCPortSpeed_ = nullptr;
    QLabel* lbUseModem_ = nullptr;
    QLineEdit* edHCNumber_ = nullptr;
    QListWidget* lbHCDateSelected_ = nullptr;

    // Declared last: destroyed first, while the widgets and the main-thread caller still exist.
    std::vector<std::unique_ptr<QObject>> workflows_;
};

}  // namespace calvix
