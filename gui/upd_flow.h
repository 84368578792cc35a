// The УПД road of the main window: the catalog read, the choice of an archive, its download
// through "_file.bat", and "Прервать" while either runs.
#pragma once

#include <QObject>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "platform/event.h"
#include "workers/worker_thread.h"

class QLabel;
class QListWidget;
class QProgressBar;

namespace workers {
class CThreadExtProc;
class CThreadReadUPDCatalog;
}  // namespace workers

namespace calvix {

class TMainForm;

class TUpdFlow : public QObject {
  public:
    explicit TUpdFlow(TMainForm& form);
    // Ends a worker that still runs and waits for its thread.
    ~TUpdFlow() override;
    TUpdFlow(const TUpdFlow&) = delete;
    TUpdFlow& operator=(const TUpdFlow&) = delete;

    // Test seams: the length of one second of the download budget, and the catalog reader's
    // pauses on each port.
    static void SetBudgetSecond(std::chrono::milliseconds second);
    static void SetCatalogPauses(std::chrono::milliseconds open, std::chrono::milliseconds answer);

  private:
    bool StartCatalogReader();
    void CatalogProgress(const workers::CThreadReadUPDCatalog& reader);
    void CatalogDone(const workers::CThreadReadUPDCatalog& reader, bool found);
    void CheckFileKatalog();
    void btStartSAClick();
    void DownloadProgress(const workers::CThreadExtProc& runner);
    void DownloadDone(bool succeeded);
    void btReturnWaitClick();
    // The event was set by "Прервать"; the event is closed either way.
    bool TakeAbort();
    void RemoveDataFile() const;

    TMainForm& form_;
    QLabel* lb1WaitTime_ = nullptr;
    QProgressBar* progressBarWait_ = nullptr;
    QListWidget* listSelectArchiv_ = nullptr;
    std::vector<std::string> catalogLines_;  // as the device wrote the names (1251)
    std::shared_ptr<platform::Event> abortEvent_;
    bool downloading_ = false;  // from the start of the command list to its reported end
    // Declared last: joined first, while everything its callbacks touch still exists.
    workers::WorkerThread worker_;
};

}  // namespace calvix
