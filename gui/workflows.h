// The workflows of the main window, each in its own pair of files, each owning its panels' slots.
#pragma once

#include <QObject>
#include <memory>
#include <vector>

namespace calvix {

class TMainForm;

std::vector<std::unique_ptr<QObject>> MakeWorkflows(TMainForm& form);

}  // namespace calvix
