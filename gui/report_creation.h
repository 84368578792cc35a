// Report creation in the main window: the report builder run once per chosen report, strictly
// one run after another, from the report selection, hourly-date and several-days windows; the
// several-day check boxes; the correction of a report before it is shown.
#pragma once

#include <QObject>
#include <chrono>
#include <cstddef>
#include <set>
#include <string>
#include <vector>

#include "gui/rules/report_creation.h"
#include "workers/worker_thread.h"

class QCheckBox;
class QProgressBar;
class QPushButton;
class QScrollArea;
class QWidget;

namespace calvix {

class TMainForm;

class TReportCreation : public QObject {
  public:
    explicit TReportCreation(TMainForm& form);
    ~TReportCreation() override;
    TReportCreation(const TReportCreation&) = delete;
    TReportCreation& operator=(const TReportCreation&) = delete;

    // One second of the builder's time budget; tests shorten it, the program keeps 1 s.
    static void SetBudgetSecond(std::chrono::milliseconds second);

  private:
    enum class Flow { Month, Hourly, SeveralDays };
    enum class Attempt { Started, Skipped };

    void BuildControls();
    void SeveralDayBoxes();
    void CorrectReport(std::vector<std::string>& lines);

    void CreateMonthReports();
    void CreateHourlyReports();
    void CreateSeveralDayReports();
    // The refusals of the several-days window before anything runs; true when it may go on.
    bool SeveralDayChecks();
    int CountDeepTemplates();
    int PrepareCycleTemplates();

    bool StartNextRun();
    bool StartMonthRun();
    bool StartHourlyRun();
    bool StartSeveralDayRun();
    Attempt TryRun(const BuilderRun& run, std::size_t nextIndex);
    void RunEnded(bool succeeded);
    void ListCreatedReports();

    void StartFirstRun(Flow flow, int maximum);
    void ShowWait(int maximum);
    QWidget* FlowPanel() const;
    void ShowError(std::string_view message);
    bool ProgramFileExists(std::string_view path) const;
    std::string TemplateFolder() const;

    TMainForm& form_;
    QPushButton* btHCDateReportCreate_ = nullptr;
    QPushButton* btHCAnyDayNext_ = nullptr;
    QProgressBar* pbWaitReport_ = nullptr;
    QScrollArea* scrollBoxAnyDay_ = nullptr;
    QWidget* anyDayContent_ = nullptr;
    std::vector<QCheckBox*> severalDayBoxes_;
    std::vector<std::string> severalDayTemplates_;
    std::vector<std::string> severalDayCaptions_;

    // The creation under way.
    Flow flow_ = Flow::Month;
    std::size_t nextIndex_ = 0;
    int createdCount_ = 0;
    std::string runningOutput_;
    std::vector<std::string> hourlyDates_;
    std::string dateRangeText_;
    // Several-day templates whose "@cycle" line could not be written: not run with old numbers.
    std::set<std::size_t> unprepared_;
    workers::WorkerThread worker_;
};

}  // namespace calvix
