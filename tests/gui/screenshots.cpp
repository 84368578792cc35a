// Pictures of the real window for a person to look at. Run it under an X server (Xvfb) in a
// prepared working folder with saved reports in "Archive\":
//   xvfb-run -s "-screen 0 1024x768x24" gui_screenshots /tmp
#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QThread>
#include <functional>

#include "gui/calvix_app.h"
#include "gui/dialog_service.h"
#include "gui/dialogs.h"
#include "gui/unitmainform.h"

namespace {

void Settle() {
    for (int i = 0; i < 25; ++i) {
        QApplication::processEvents();
        QThread::msleep(20);
    }
}

bool Grab(const QString& folder, const char* name) {
    Settle();
    const QString file = folder + QLatin1Char('/') + QLatin1String(name);
    return QGuiApplication::primaryScreen()->grabWindow(0).save(file);
}

// Runs the event loop until `done`, at most a minute.
bool WaitFor(const std::function<bool()>& done) {
    for (int i = 0; i < 3000 && !done(); ++i) {
        QApplication::processEvents();
        QThread::msleep(20);
    }
    return done();
}

void Click(QWidget& form, const char* name) {
    if (auto* button = form.findChild<QPushButton*>(QLatin1String(name))) {
        button->click();
    }
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    calvix::ApplyCalvixLook(app);
    calvix::DialogService::SetHeadless(true);
    const QString folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("/tmp");
    bool ok = true;

    calvix::TAboutBox start;
    start.show();
    ok = Grab(folder, "calvix-start.png") && ok;
    start.hide();

    calvix::TMainForm form;
    form.show();
    ok = Grab(folder, "calvix-mode.png") && ok;
    Click(form, "btMemoMode");
    const auto& boxes = form.ReportCheckBoxes();
    for (std::size_t i = 0; i < boxes.size() && i < 2; ++i) {
        boxes[i]->click();
    }
    ok = Grab(folder, "calvix-archive-list.png") && ok;
    Click(form, "btStartR");
    ok = Grab(folder, "calvix-archive-text.png") && ok;

    // The heat-calculator windows, one after the other.
    Click(form, "btExitText");  // answered "no" by the headless dialog service: stays open
    form.HidePanel(calvix::Panel::Text);
    form.ShowPanel(calvix::Panel::SelectMode);
    Click(form, "btTV540Mode");
    ok = Grab(folder, "calvix-hc-work.png") && ok;
    Click(form, "btHCConfig");
    ok = Grab(folder, "calvix-hc-config.png") && ok;
    Click(form, "btHCParamOK");
    Click(form, "btHCAutoSearch");
    ok = Grab(folder, "calvix-hc-search.png") && ok;
    Click(form, "btHCAutoBack");
    Click(form, "btHCRead");
    ok = Grab(folder, "calvix-hc-question.png") && ok;
    form.HidePanel(calvix::Panel::HCQuestion);
    form.ShowPanel(calvix::Panel::HCWait);
    ok = Grab(folder, "calvix-hc-wait.png") && ok;
    form.HidePanel(calvix::Panel::HCWait);
    // Current values of the device the configuration names, when one is on its port.
    form.ShowPanel(calvix::Panel::HCWork);
    Click(form, "btHCCurrent");
    auto* flow = form.findChild<QLineEdit*>(QStringLiteral("edHCCur1"));
    WaitFor([&] { return flow != nullptr && !flow->text().isEmpty(); });
    Settle();
    ok = Grab(folder, "calvix-hc-current.png") && ok;
    Click(form, "btHCCurBack");
    WaitFor([&] { return form.PanelWidget(calvix::Panel::HCCurrent)->isHidden(); });
    form.HidePanel(calvix::Panel::HCWork);
    form.DataTaken("hc\\dat1hc");
    ok = Grab(folder, "calvix-hc-reports.png") && ok;
    Click(form, "btCalendarR");
    ok = Grab(folder, "calvix-hc-hourly-dates.png") && ok;
    Click(form, "btHCDateBack");
    Click(form, "btSeveralDaysR");
    ok = Grab(folder, "calvix-hc-several-days.png") && ok;

    // The УПД road, when the caller put an emulated УПД on one of the ports.
    Click(form, "btHCAnyDayBack");
    Click(form, "btReturnR");
    Click(form, "btHCBack");
    Click(form, "btUPDMode");
    ok = Grab(folder, "calvix-upd-catalog-wait.png") && ok;
    if (WaitFor([&] { return form.PanelWidget(calvix::Panel::Wait)->isHidden(); })) {
        ok = Grab(folder, "calvix-upd-archives.png") && ok;
        Click(form, "btStartSA");
        Settle();
        ok = Grab(folder, "calvix-upd-download.png") && ok;
        WaitFor([&] { return form.PanelWidget(calvix::Panel::Wait)->isHidden(); });
        ok = Grab(folder, "calvix-upd-reports.png") && ok;
    }
    return ok ? 0 : 1;
}
