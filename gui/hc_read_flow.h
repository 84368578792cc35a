// Reading a heat calculator from the main window: the question, the wait window, cancel.
#pragma once

#include <QObject>

namespace calvix {

class TMainForm;

class THCReadFlow : public QObject {
  public:
    explicit THCReadFlow(TMainForm& form);

  private:
    TMainForm& form_;
};

}  // namespace calvix
