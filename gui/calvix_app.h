// The program from its start window to the end of its main window.
#pragma once

#include <QApplication>

class QSocketNotifier;

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

// From now on SIGTERM, SIGINT and SIGHUP end the main event loop and every dialog's loop within
// it. Leaving the loop destroys the main window, which cancels a reading and removes its partial
// data file as closing the window does, without the closing question. Once per program; the
// notifier reports each signal to whoever else must act on it.
QSocketNotifier* QuitOnSignals(QApplication& app);

// Start window, then the main window and its dialogs, then the event loop. Returns the exit
// code.
int RunCalvix(QApplication& app);

}  // namespace calvix
