#include "gui/hc_work_window.h"

#include "gui/unitmainform.h"

namespace calvix {

THCWorkWindow::THCWorkWindow(TMainForm& form) : form_(form) {}

}  // namespace calvix
