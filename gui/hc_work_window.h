// The heat-calculator window: connection settings and the address search.
#pragma once

#include <QObject>

namespace calvix {

class TMainForm;

class THCWorkWindow : public QObject {
  public:
    explicit THCWorkWindow(TMainForm& form);

  private:
    TMainForm& form_;
};

}  // namespace calvix
