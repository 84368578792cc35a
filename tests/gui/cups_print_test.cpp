// "Распечатать" of the text window onto a real CUPS scheduler that the test starts with its own
// configuration folder and a queue whose device is a file, read back with poppler's pdftotext.
#include <QListWidget>
#include <QPrinterInfo>
#include <QProcess>
#include <QStandardPaths>

#include <grp.h>
#include <unistd.h>

#include "gui/calvix_app.h"
#include "gui/dialogs.h"
#include "tests/gui/gui_fixture.h"

namespace calvix::testing_gui {
namespace {

// The scheduler's folder: libcups reads CUPS_SERVER once, so main fixes it for the whole run.
fs::path& SchedulerFolder() {
    static fs::path folder;
    return folder;
}

const char* const kQueue = "calvixtest";
const char* const kPdfPrinterPpd = "/usr/share/ppd/cupsfilters/Generic-PDF_Printer-PDF.ppd";

// CUPS keeps its programs in sbin, which an ordinary user's PATH often lacks.
QString FindProgram(const char* name) {
    const QString program = QString::fromLatin1(name);
    QString found = QStandardPaths::findExecutable(program);
    if (found.isEmpty()) {
        found = QStandardPaths::findExecutable(
            program, {QStringLiteral("/usr/sbin"), QStringLiteral("/sbin")});
    }
    return found;
}

// A cupsd listening on a socket in its folder only, stopped and reaped with the object.
class Scheduler {
  public:
    explicit Scheduler(fs::path folder) : folder_(std::move(folder)) {}
    ~Scheduler() { Stop(); }
    Scheduler(const Scheduler&) = delete;
    Scheduler& operator=(const Scheduler&) = delete;

    std::string Start(const QString& cupsd) {
        WriteConfiguration();
        daemon_.setStandardOutputFile(Path("log/cupsd.out"));
        daemon_.setStandardErrorFile(Path("log/cupsd.out"));
        daemon_.start(cupsd, {QStringLiteral("-f"), QStringLiteral("-c"), Path("root/cupsd.conf"),
                              QStringLiteral("-s"), Path("root/cups-files.conf")});
        if (!daemon_.waitForStarted(30000)) {
            return "cupsd did not start";
        }
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
        QString answer;
        while (!Run("lpstat", {QStringLiteral("-r")}, &answer) ||
               !answer.startsWith(QStringLiteral("scheduler is running"))) {
            // Waiting for the daemon's end doubles as the pause between looks.
            if (daemon_.waitForFinished(100) || std::chrono::steady_clock::now() > deadline) {
                return "the scheduler did not come up: " + Log();
            }
        }
        return {};
    }
    void Stop() {
        if (daemon_.state() == QProcess::NotRunning) {
            return;
        }
        daemon_.terminate();
        if (!daemon_.waitForFinished(60000)) {
            daemon_.kill();
            daemon_.waitForFinished(-1);
        }
    }
    // A CUPS client program run against this scheduler only; true when it succeeded.
    bool Run(const char* program, QStringList arguments, QString* output = nullptr) const {
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("LANG"), QStringLiteral("C"));  // untranslated answers
        environment.remove(QStringLiteral("LC_ALL"));
        environment.remove(QStringLiteral("LC_MESSAGES"));
        process.setProcessEnvironment(environment);
        arguments.prepend(QString::fromStdString(Socket()));
        arguments.prepend(QStringLiteral("-h"));
        process.start(FindProgram(program), arguments);
        const bool ok = process.waitForFinished(60000) &&
                        process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
        if (output != nullptr) {
            *output = QString::fromUtf8(process.readAllStandardOutput());
        }
        return ok;
    }
    std::string Socket() const { return (folder_ / "cups.sock").string(); }
    fs::path Output() const { return folder_ / "out.prn"; }
    std::string Log() const { return ReadFile(folder_ / "log" / "error_log"); }

  private:
    QString Path(const char* relative) const {
        return QString::fromStdString((folder_ / relative).string());
    }
    // Everything the scheduler keeps lives in its folder; filters run as lp when we are root,
    // so the temporary folder is open to them.
    void WriteConfiguration() {
        for (const char* sub : {"root", "spool", "cache", "state", "tmp", "ssl", "log"}) {
            fs::create_directories(folder_ / sub);
        }
        fs::permissions(folder_, fs::perms::owner_all | fs::perms::group_read |
                                     fs::perms::group_exec | fs::perms::others_read |
                                     fs::perms::others_exec);
        fs::permissions(folder_ / "tmp", fs::perms::all | fs::perms::sticky_bit);
        const std::string f = folder_.string();
        WriteFile(folder_ / "root" / "cupsd.conf",
                  "Listen " + Socket() +
                      "\nLogLevel debug\nBrowsing No\nWebInterface No\n"
                      "<Location />\n  Order allow,deny\n  Allow all\n</Location>\n",
                  false);
        WriteFile(folder_ / "root" / "cups-files.conf",
                  "ServerRoot " + f + "/root\nRequestRoot " + f + "/spool\nCacheDir " + f +
                      "/cache\nStateDir " + f + "/state\nTempDir " + f + "/tmp\nServerKeychain " +
                      f + "/ssl\nPrintcap " + f + "/printcap\nAccessLog " + f +
                      "/log/access_log\nErrorLog " + f + "/log/error_log\nPageLog " + f +
                      "/log/page_log\nFileDevice Yes\nSystemGroup " + AdminGroup() + "\n",
                  false);
    }

    // Our own group administers the scheduler, so that lpadmin works without root too.
    static std::string AdminGroup() {
        const group* own = ::getgrgid(::getegid());
        return own != nullptr ? own->gr_name : "root";
    }

    fs::path folder_;
    QProcess daemon_;
};

std::string Report() {
    return "Ведомость учета\n+------+------+\n| День | Q    |\n+------+------+\n"
           "|   1  | 1.5  |\n|   2  | 2.5  |\n+------+------+\n";
}

class CupsPrintTest : public GuiTest {
  protected:
    void SetUp() override {
        GuiTest::SetUp();
        const QString cupsd = FindProgram("cupsd");
        if (cupsd.isEmpty()) {
            GTEST_SKIP() << "cupsd is not installed (the set-up script installs package cups)";
        }
        // A fresh scheduler each time: no queue is left from an earlier test.
        for (const auto& entry : fs::directory_iterator(SchedulerFolder())) {
            fs::remove_all(entry.path());
        }
        scheduler_ = std::make_unique<Scheduler>(SchedulerFolder());
        const std::string failure = scheduler_->Start(cupsd);
        ASSERT_EQ(failure, "");
    }
    void TearDown() override {
        Stop();
        scheduler_.reset();
        GuiTest::TearDown();
    }
    void AddFileQueue() {
        ASSERT_TRUE(fs::exists(kPdfPrinterPpd)) << kPdfPrinterPpd << " (package cups-filters)";
        ASSERT_TRUE(scheduler_->Run(
            "lpadmin",
            {QStringLiteral("-p"), QString::fromLatin1(kQueue), QStringLiteral("-E"),
             QStringLiteral("-v"),
             QStringLiteral("file://") + QString::fromStdString(scheduler_->Output().string()),
             QStringLiteral("-P"), QString::fromLatin1(kPdfPrinterPpd)}))
            << scheduler_->Log();
        ASSERT_TRUE(
            scheduler_->Run("lpadmin", {QStringLiteral("-d"), QString::fromLatin1(kQueue)}));
    }
    // The main window showing one created report in panText.
    void ShowReport() {
        WriteFile(Folder() / "calvix.ini", "");
        TMainForm& form = Start();
        form.SetWorkState(WorkState::stHCReports);
        form.PanReportMode();
        form.HidePanel(Panel::SelectMode);
        form.Hooks().correctReport = [](std::vector<std::string>&) {};
        WriteFile(Folder() / "hc" / "txt" / "r0.txt", Report());
        form.SetCreatedReports({"hc\\txt\\r0.txt"}, {platform::Utf8ToCp1251("Отчет")});
        form.ReportList()->setCurrentRow(0);
        form.OpenReport("hc\\txt\\r0.txt");
    }
    // Every job of the queue is done and the device file has been written.
    bool JobDone() {
        QString pending;
        QString completed;
        return scheduler_->Run("lpstat", {QStringLiteral("-o"), QString::fromLatin1(kQueue)},
                               &pending) &&
               pending.trimmed().isEmpty() &&
               scheduler_->Run("lpstat",
                               {QStringLiteral("-W"), QStringLiteral("completed"),
                                QStringLiteral("-o"), QString::fromLatin1(kQueue)},
                               &completed) &&
               !completed.trimmed().isEmpty() && fs::exists(scheduler_->Output()) &&
               fs::file_size(scheduler_->Output()) > 0;
    }

    std::unique_ptr<Scheduler> scheduler_;
};

TEST_F(CupsPrintTest, TheReportIsPrintedOnTheDefaultCupsQueue) {
    ASSERT_NO_FATAL_FAILURE(AddFileQueue());
    ShowReport();
    DialogService::SetNextAnswer(ModalResult::mrOk);
    Key(Qt::Key_B, Qt::ControlModifier);
    auto* list =
        form_->SelectPrinterBox()->findChild<QListWidget*>(QStringLiteral("listAllPrinters"));
    ASSERT_NE(list, nullptr);
    ASSERT_NE(list->currentItem(), nullptr);
    EXPECT_EQ(list->currentItem()->text(), QString::fromLatin1(kQueue)) << "the default queue";
    EXPECT_FALSE(form_->SelectPrinterBox()->PdfChosen());
    Click("btPrintText");
    ExpectOnly("panText");
    ASSERT_TRUE(WaitUntil([this] { return JobDone(); }, std::chrono::minutes(2)))
        << scheduler_->Log();
    const std::string output = ReadFile(scheduler_->Output());
    EXPECT_NE(output.find("%PDF-"), std::string::npos) << "the generic PDF queue gives PDF";
    QProcess text;
    text.start(QStringLiteral("pdftotext"),
               {QStringLiteral("-layout"), QString::fromStdString(scheduler_->Output().string()),
                QStringLiteral("-")});
    ASSERT_TRUE(text.waitForFinished(60000));
    const QString printed = QString::fromUtf8(text.readAllStandardOutput());
    EXPECT_TRUE(printed.contains(Q("Ведомость учета"))) << printed.toStdString();
    EXPECT_TRUE(printed.contains(Q("День"))) << printed.toStdString();
}

TEST_F(CupsPrintTest, ASchedulerWithoutQueuesHasNoPrinterToPrintOn) {
    ShowReport();
    EXPECT_TRUE(QPrinterInfo::availablePrinterNames().isEmpty());
    Click("btPrintText");
    ExpectOnly("panHCError");
    EXPECT_EQ(ErrorText(), "Не найдены принтеры, установленные на компьютере.");
    Click("btHCError");
    ExpectOnly("panText");
    EXPECT_FALSE(fs::exists(scheduler_->Output()));
}

}  // namespace
}  // namespace calvix::testing_gui

// libcups (2.4.2) loses a few strings of the PPD cache it builds when Qt describes a queue; only
// that function's allocations are exempted.
extern "C" const char* __lsan_default_suppressions();
extern "C" const char* __lsan_default_suppressions() {
    return "leak:_ppdCacheCreateWithPPD\n";
}

// The client side of CUPS is pointed at the test's scheduler before anything asks for printers.
int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    const testsupport::ScratchFolder folder;
    calvix::testing_gui::SchedulerFolder() = folder.Path();
    ::setenv("CUPS_SERVER", (folder.Path() / "cups.sock").c_str(), 1);
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    calvix::ApplyCalvixLook(app);
    calvix::DialogService::SetHeadless(true);
    return RUN_ALL_TESTS();
}
