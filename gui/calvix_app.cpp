#include "gui/calvix_app.h"

#include <QFont>
#include <QStyleFactory>
#include <exception>

#include "gui/dialog_service.h"
#include "gui/dialogs.h"
#include "gui/rules/texts.h"
#include "gui/unitmainform.h"

namespace calvix {

CalvixApplication::CalvixApplication(int& argc, char** argv) : QApplication(argc, argv) {}

bool CalvixApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& error) {
        // Our errors carry 1251 texts.
        DialogService::ShowMessage(nullptr, error.what(), text::kAppTitle, MessageIcon::Error);
    } catch (...) {
        DialogService::ShowMessage(nullptr, text::kError, text::kAppTitle, MessageIcon::Error);
    }
    return false;
}

void ApplyCalvixLook(QApplication& app) {
    QFont::insertSubstitution(QStringLiteral("MS Sans Serif"), QStringLiteral("Liberation Sans"));
    QFont::insertSubstitution(QStringLiteral("Courier New"), QStringLiteral("Liberation Mono"));
    if (QStyle* fusion = QStyleFactory::create(QStringLiteral("Fusion"))) {
        app.setStyle(fusion);
    }
    app.setFont(QFont(QStringLiteral("MS Sans Serif"), 9));
}

int RunCalvix(QApplication& app) {
    {
        TAboutBox start;
        if (DialogService::ShowModal(&start) == ModalResult::mrCancel) {
            return 0;
        }
    }
    app.setApplicationName(QStringLiteral("calvix"));
    TMainForm mainForm;
    if (mainForm.InitFailed()) {
        return 0;
    }
    mainForm.show();
    return app.exec();
}

}  // namespace calvix
