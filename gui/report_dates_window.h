// Report dates of a data file: period captions, the hourly-date and several-days windows.
#pragma once

#include <QObject>

namespace calvix {

class TMainForm;

class TReportDatesWindow : public QObject {
  public:
    explicit TReportDatesWindow(TMainForm& form);

  private:
    TMainForm& form_;
};

}  // namespace calvix
