// GUI tests run headless with one application object for the whole run.
#include <gtest/gtest.h>

#include <QApplication>

#include "gui/calvix_app.h"
#include "gui/dialog_service.h"

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    calvix::ApplyCalvixLook(app);
    calvix::DialogService::SetHeadless(true);
    return RUN_ALL_TESTS();
}
