#include "gui/calvix_app.h"

#include <QFont>
#include <QSocketNotifier>
#include <QStyleFactory>
#include <exception>
#include <memory>

#include "gui/dialog_service.h"
#include "gui/dialogs.h"
#include "gui/rules/texts.h"
#include "gui/unitmainform.h"
#include "platform/event.h"
#include "platform/stop_signals.h"

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

QSocketNotifier* QuitOnSignals(QApplication& app) {
    static QSocketNotifier* notifier = nullptr;
    if (notifier != nullptr) {
        return notifier;
    }
    auto stop = std::make_shared<platform::Event>();
    platform::StopOnSignals(stop);
    notifier = new QSocketNotifier(stop->Fd(), QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &app, [stop] {
        stop->Take();
        QCoreApplication::exit(0);
    });
    return notifier;
}

int RunCalvix(QApplication& app) {
    QSocketNotifier* stopped = QuitOnSignals(app);
    {
        TAboutBox start;
        // The main loop is not running yet: a signal closes the start window instead.
        QObject::connect(stopped, &QSocketNotifier::activated, &start, &QDialog::reject);
        if (DialogService::ShowModal(&start) == ModalResult::mrCancel ||
            platform::StopSignal() != 0) {
            return 0;
        }
    }
    app.setApplicationName(QStringLiteral("calvix"));
    TMainForm mainForm;
    if (mainForm.InitFailed() || platform::StopSignal() != 0) {
        return 0;
    }
    mainForm.show();
    return app.exec();
}

}  // namespace calvix
