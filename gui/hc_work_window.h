// The heat-calculator window: connection settings and the address search.
#pragma once

#include <QObject>
#include <string>
#include <string_view>

#include "gui/rules/address_search.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;

namespace calvix {

class TMainForm;

class THCWorkWindow : public QObject {
  public:
    explicit THCWorkWindow(TMainForm& form);
    // Stops the search and waits for its thread: it never outlives the window.
    ~THCWorkWindow() override;
    THCWorkWindow(const THCWorkWindow&) = delete;
    THCWorkWindow& operator=(const THCWorkWindow&) = delete;

  private:
    class PostingView;

    void BuildConfig();
    void BuildAutoSearch();
    void BuildErrorSearch();

    void btHCConfigClick();
    void btHCParamOKClick();
    void btHCAutoSearchClick();
    void btHCStartSearchClick();
    void btHCStopSearchClick() { StopSearch(); }
    void btHCAutoBackClick();
    void btHCSearchStopOKClick();
    void btHCSearchStopNOClick();
    void StopSearch();
    void HideSearchLabels();
    void ShowSearchError(std::string_view message);

    // The search's reports, on the GUI thread. `search` names the search they come from: those
    // of an earlier search are dropped, and after "Стоп" only found devices still count.
    bool Live(unsigned search) const { return search == searchNumber_ && !stopped_; }
    void OnPortOpenFailed(unsigned search, const std::string& detail);
    void OnShowAddress(unsigned search, int address);
    void OnFound(unsigned search, const std::string& text, int count);
    void OnFaultyDevice(unsigned search);
    void OnFinished(unsigned search);
    void OnWriteFailed(unsigned search);
    void OnReadFailed(unsigned search);

    TMainForm& form_;
    QLineEdit* edHCNumber_ = nullptr;
    // panHCConfig
    QComboBox* cbHCComPort_ = nullptr;
    QComboBox* cbHCPortSpeed_ = nullptr;
    QCheckBox* cbUseModem_ = nullptr;
    QLineEdit* edPhoneNumber_ = nullptr;
    // panHCAutoSearch
    QLineEdit* edHCBegin_ = nullptr;
    QLineEdit* edHCEnd_ = nullptr;
    QCheckBox* cbHCNet_ = nullptr;
    QPushButton* btHCStartSearch_ = nullptr;
    QPushButton* btHCStopSearch_ = nullptr;
    QLabel* lbHCSearchShow_ = nullptr;
    QLabel* lbHCSearchNumber_ = nullptr;
    QLabel* lbHCAutoFound_ = nullptr;
    QLabel* lbHCAbonentFinded_ = nullptr;
    QListWidget* lbHCFinded_ = nullptr;

    unsigned searchNumber_ = 0;
    bool stopped_ = false;
    // Declared last: destroyed first, stopping and joining the thread while the rest exists.
    AddressSearchThread search_;
};

}  // namespace calvix
