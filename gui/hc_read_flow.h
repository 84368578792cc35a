// Reading a heat calculator from the main window: the question, the wait window, cancel.
#pragma once

#include <QObject>
#include <atomic>
#include <memory>
#include <string>

#include "platform/event.h"
#include "workers/worker_thread.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;

namespace reading {
class ModemLibrary;
struct ReadProgress;
}  // namespace reading

namespace calvix {

class TMainForm;
class ActivityLamp;

class THCReadFlow : public QObject {
  public:
    explicit THCReadFlow(TMainForm& form);
    // Cancels a reading that still runs and waits for its thread.
    ~THCReadFlow() override;
    THCReadFlow(const THCReadFlow&) = delete;
    THCReadFlow& operator=(const THCReadFlow&) = delete;

    // Readings that start from now on go through `library` instead of the one loaded at start;
    // null goes back to that one. For tests, which load the library they built.
    static void UseModemLibrary(reading::ModemLibrary* library);
    // The library readings go through now (the current values use it too).
    static reading::ModemLibrary* ModemLibraryInUse();

  private:
    void BuildQuestion();
    void BuildWait();

    void btHCReadClick();
    void cbHCReadOnlyOtPeriodClick();
    void btHCQuestionYesClick();
    void btHCQuestionNoClick();
    void btHCQuestionBackClick();
    void btCancelReadHCClick();

    // The read options of the question window; they also rule the report buttons.
    void TakeReadOptions();
    bool StartReading();
    bool ShowProgress(const reading::ReadProgress& progress);
    std::string ChooseParameterList(char version);
    void ReadingEnded(bool succeeded, const std::string& errorText);
    // Worker thread: one queued lamp update at a time, whatever the pace of the exchanges.
    void ExchangeActivity(bool ok);

    TMainForm& form_;
    QPushButton* btSeveralDaysR_ = nullptr;
    QPushButton* btCalendarR_ = nullptr;
    QCheckBox* cbHCDayRead_ = nullptr;
    QCheckBox* cbHCReadOnlyOtPeriod_ = nullptr;
    QLabel* lbWaitReadHC_ = nullptr;
    QLabel* lbWaitReadHCTime_ = nullptr;
    QProgressBar* pbHC1_ = nullptr;
    ActivityLamp* lamp_ = nullptr;

    bool onlyPeriod_ = false;
    bool readHourly_ = false;
    bool cancelRequested_ = false;
    std::shared_ptr<platform::Event> stopEvent_;
    bool reading_ = false;
    std::atomic<bool> lastExchangeOk_{true};
    std::atomic<bool> lampUpdatePosted_{false};
    // Declared last: joined first, while everything its callbacks touch still exists.
    workers::WorkerThread worker_;
};

}  // namespace calvix
