// The current-values window of the heat-calculator work: the 20 fields, the reading worker's
// callbacks, the activity lamp, "Старт" and "Назад".
#pragma once

#include <QObject>
#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "gui/rules/current_values.h"
#include "platform/event.h"
#include "workers/worker_thread.h"

class QLabel;
class QLineEdit;
class QPushButton;
class QWidget;

namespace reading {
struct CurrentValuesFormat;
}  // namespace reading

namespace calvix {

class LampWidget;
class TMainForm;

class TCurrentValuesWindow : public QObject {
  public:
    explicit TCurrentValuesWindow(TMainForm& form);
    // Stops a reading that still runs and waits for its thread.
    ~TCurrentValuesWindow() override;
    TCurrentValuesWindow(const TCurrentValuesWindow&) = delete;
    TCurrentValuesWindow& operator=(const TCurrentValuesWindow&) = delete;

  private:
    void Build();
    void BuildFields(QWidget* pan);

    void btHCCurrentClick();
    void btHCCurrentStartClick();
    void btHCCurBackClick();
    void btHCCurrentPrintClick();
    bool StartReading();

    // The worker's reports, on the main thread.
    void ShowValues(std::span<const std::uint8_t> answer, const reading::CurrentValuesFormat& f);
    void PaintFields(bool white);
    void Exchange(bool ok);
    void ReadingEnded(const std::string& message);

    TMainForm& form_;
    QLineEdit* edHCNumber_ = nullptr;
    std::array<QLineEdit*, kCurrentFieldCount> fields_{};
    QLabel* lbHCCurrentNum_ = nullptr;
    QLabel* lbHCCurrentAddr_ = nullptr;
    QLabel* lbHCCurrentConnStatus_ = nullptr;
    LampWidget* lamp_ = nullptr;
    QPushButton* btHCCurrentStart_ = nullptr;
    ActivityLampState lampState_;

    bool busy_ = false;
    bool stopRequested_ = false;
    // Kept for the rest of the run once the device told its unit.
    bool gigajoules_ = true;
    std::shared_ptr<platform::Event> stopEvent_;
    // Declared last: joined first, while everything its callbacks touch still exists.
    workers::WorkerThread worker_;
};

}  // namespace calvix
