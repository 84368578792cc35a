// The program from its start window to the end of its main window.
#pragma once

#include <QApplication>

namespace calvix {

// An exception that reaches the event loop is shown in a message box instead of ending the
// program.
class CalvixApplication : public QApplication {
  public:
    CalvixApplication(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;
};

// Fonts and style of the program: "MS Sans Serif" and "Courier New" resolve to the
// metric-compatible Liberation fonts where those Windows fonts are missing.
void ApplyCalvixLook(QApplication& app);

// Start window, then the main window and its dialogs, then the event loop. Returns the exit
// code.
int RunCalvix(QApplication& app);

}  // namespace calvix
