#include "gui/hc_read_flow.h"

#include "gui/unitmainform.h"

namespace calvix {

THCReadFlow::THCReadFlow(TMainForm& form) : form_(form) {}

}  // namespace calvix
