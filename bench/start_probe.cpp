// A Qt generic plugin that calvix_start_bench puts into the real, unchanged calvix through Qt's
// own hook (QT_PLUGIN_PATH and QT_QPA_GENERIC_PLUGINS=calvixstartprobe). When the start window
// has been shown and painted it prints the monotonic clock, presses "Старт", and when the main
// window has been shown and painted (the mode window) it prints the resident memory and ends
// the program at once:
//   STARTPROBE visible <CLOCK_MONOTONIC seconds>
//   STARTPROBE rss <VmRSS KiB> <VmHWM KiB>
#include <unistd.h>

#include <QAbstractButton>
#include <QApplication>
#include <QEvent>
#include <QGenericPlugin>
#include <QTimer>
#include <QWidget>
#include <QWindow>
#include <cstdio>
#include <ctime>

#include "bench/bench_support.h"

namespace {

QWidget* TopLevelOf(const QWindow* window) {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget->windowHandle() == window) {
            return widget;
        }
    }
    return nullptr;
}

class StartProbe : public QObject {
  public:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Expose) {
            auto* window = qobject_cast<QWindow*>(watched);
            QWidget* widget =
                window != nullptr && window->isExposed() ? TopLevelOf(window) : nullptr;
            if (widget != nullptr) {
                Exposed(widget);
            }
        }
        return false;
    }

  private:
    // The expose is painted while it is delivered; the zero timer runs after that.
    void Exposed(QWidget* widget) {
        if (widget->objectName() == QLatin1String("TAboutBox") && !startSeen_) {
            startSeen_ = true;
            QTimer::singleShot(0, widget, [widget] {
                std::printf("STARTPROBE visible %.6f\n", bench::ClockSeconds(CLOCK_MONOTONIC));
                std::fflush(stdout);
                auto* start = widget->findChild<QAbstractButton*>(QStringLiteral("BitBtn1"));
                if (start != nullptr) {
                    start->click();
                }
            });
        } else if (widget->objectName() == QLatin1String("TMainForm")) {
            QTimer::singleShot(0, [] {
                std::printf("STARTPROBE rss %ld %ld\n", bench::StatusKiB("VmRSS"),
                            bench::StatusKiB("VmHWM"));
                std::fflush(stdout);
                ::_exit(0);
            });
        }
    }

    bool startSeen_ = false;
};

}  // namespace

class StartProbePlugin : public QGenericPlugin {
    Q_OBJECT
    Q_PLUGIN_METADATA(IID QGenericPluginFactoryInterface_iid FILE "start_probe.json")

  public:
    QObject* create(const QString& key, const QString&) override {
        if (key.compare(QLatin1String("calvixstartprobe"), Qt::CaseInsensitive) != 0) {
            return nullptr;
        }
        auto* probe = new StartProbe;
        QCoreApplication::instance()->installEventFilter(probe);
        return probe;
    }
};

#include "start_probe.moc"
