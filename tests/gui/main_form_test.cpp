#include <sys/stat.h>
#include <unistd.h>
#include <QCheckBox>
#include <QGuiApplication>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QStatusBar>
#include <QTextEdit>
#include <chrono>
#include <thread>

#include "gui/dialogs.h"
#include "gui/rules/layout_rules.h"
#include "gui/rules/texts.h"
#include "platform/cp1251_literal.h"
#include "platform/file_io.h"
#include "tests/gui/gui_fixture.h"

namespace calvix::testing_gui {
namespace {

constexpr const char* kReport =
    "Ведомость учета тепловой энергии\n"
    "+------+------+\n"
    "| День | Q    |\n"
    "+------+------+\n"
    "|  1   | 1.5  |\n"
    "+------+------+\n";

using MainFormStartTest = GuiTest;

TEST_F(MainFormStartTest, StartClearsTextFoldersMovesMemoAndShowsTheModeWindow) {
    WriteFile(Folder() / "txt" / "a.txt", "x");
    WriteFile(Folder() / "hc" / "txt" / "b.TXT", "x");
    WriteFile(Folder() / "hc" / "dat1hc", "data");
    WriteFile(Folder() / "memo" / "old.txt", "old report");
    std::filesystem::create_directories(Folder() / "archive");

    TMainForm& form = Start();
    EXPECT_FALSE(form.InitFailed());
    EXPECT_FALSE(std::filesystem::exists(Folder() / "txt" / "a.txt"));
    EXPECT_FALSE(std::filesystem::exists(Folder() / "hc" / "txt" / "b.TXT"));
    EXPECT_TRUE(std::filesystem::exists(Folder() / "hc" / "dat1hc"));
    EXPECT_EQ(ReadFile(Folder() / "archive" / "old.txt"), "old report\r\n");
    EXPECT_FALSE(std::filesystem::exists(Folder() / "memo" / "old.txt"));

    ExpectOnly("panSelectMode");
    EXPECT_TRUE(Visible("panMain"));
    EXPECT_EQ(form.CurrentWorkState(), WorkState::stArchive);
    EXPECT_EQ(form.StartFolder(), Folder());
    EXPECT_EQ(form.windowTitle(), Q("Программа \"Ведар\""));
    EXPECT_EQ(Find<QPushButton>("btTV540Mode")->text(), Q("Работа с тепловычислителем"));
    EXPECT_EQ(Find<QStatusBar>("StatusBar1")->objectName(), Q("StatusBar1"));
    EXPECT_EQ(form.minimumSize(), QSize(630, 460));
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    const Box expected = MainWindowGeometry(screen.width(), screen.height());
    EXPECT_EQ(form.size(), QSize(expected.width, expected.height));
    // Every panel of the stack exists under its name, hidden but for the mode window.
    for (Panel panel : kAllPanels) {
        EXPECT_NE(form.PanelWidget(panel), nullptr) << PanelName(panel);
        EXPECT_EQ(form.PanelWidget(panel)->objectName().toStdString(), PanelName(panel));
    }
}

TEST_F(MainFormStartTest, TheReportFoldersAreMadeWhenMissing) {
    Start();
    EXPECT_TRUE(std::filesystem::is_directory(Folder() / "txt"));
    EXPECT_TRUE(std::filesystem::is_directory(Folder() / "hc" / "txt"));
}

TEST_F(MainFormStartTest, LostWorkingFolderEndsWithTheInitialisationBox) {
    const auto lost = Folder() / "lost";
    std::filesystem::create_directory(lost);
    std::filesystem::current_path(lost);
    std::filesystem::remove(lost);
    DialogService::SetNextAnswer(ModalResult::mrOk);
    TMainForm& form = Start();
    std::filesystem::current_path(Folder());
    EXPECT_TRUE(form.InitFailed());
    const auto shown = DialogService::TakeShown();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].text, text::kInitFailed);
    EXPECT_EQ(shown[0].caption, text::kError);
    form.close();  // no question without a finished start
    EXPECT_FALSE(form.isVisible());
    Stop();
    EXPECT_TRUE(DialogService::TakeShown().empty());
    EXPECT_FALSE(std::filesystem::exists(Folder() / "calvix.ini"));
}

TEST_F(MainFormStartTest, ExitAsksAndWritesTheConfigurationOnce) {
    WriteFile(Folder() / "calvix.ini", "[Принтер]\r\nотступ слева=3\r\n");
    TMainForm& form = Start();
    DialogService::SetNextAnswer(ModalResult::mrNo);
    Click("btExitSM");
    EXPECT_TRUE(form.isVisible()) << "\"Нет\" keeps the window";
    ExpectOnly("panSelectMode");
    EXPECT_EQ(DialogService::TakeShown().at(0).what, "TCloseBox");

    // Changes stay in memory until the end.
    form.Config()->Ini().WriteString("extra", "key", "value");
    EXPECT_EQ(ReadFile(Folder() / "calvix.ini").find("extra"), std::string::npos);
    DialogService::SetNextAnswer(ModalResult::mrYes);
    Click("btExitSM");
    EXPECT_FALSE(form.isVisible());
    Stop();
    const std::string written = ReadFile(Folder() / "calvix.ini");
    EXPECT_NE(written.find("[extra]\r\nkey=value\r\n"), std::string::npos);
    EXPECT_NE(written.find(platform::Utf8ToCp1251("отступ слева=3")), std::string::npos);
}

TEST_F(MainFormStartTest, FailedWriteShowsTheBoxAndKeepsTheOldFile) {
    WriteFile(Folder() / "calvix.ini", "[old]\r\na=1\r\n");
    DialogService::SetNextAnswer(ModalResult::mrOk);
    TMainForm& form = Start();
    form.Config()->Ini().WriteString("new", "b", "2");
    // The temporary file cannot be made where a folder of its name stands.
    std::filesystem::create_directory(platform::ReplacementPath(Folder() / "calvix.ini"));
    Stop();
    const auto shown = DialogService::TakeShown();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].text, text::kConfigSaveFailed);
    EXPECT_EQ(shown[0].caption, text::kError);
    EXPECT_EQ(ReadFile(Folder() / "calvix.ini"), "[old]\r\na=1\r\n");
}

// Root reads a file of mode 000, so that case counts only without root; a folder or a FIFO in
// the file's place cannot be read by anyone.
TEST_F(MainFormStartTest, UnreadableConfigurationEndsTheStartAndIsLeftAlone) {
    struct Case {
        const char* what;
        void (*make)(const fs::path&);
    };
    std::vector<Case> cases = {
        {"folder", [](const fs::path& p) { fs::create_directories(p / "keep"); }},
        {"fifo", [](const fs::path& p) { ASSERT_EQ(::mkfifo(p.c_str(), 0644), 0); }},
    };
    if (::geteuid() != 0) {
        cases.push_back({"mode 000", [](const fs::path& p) {
                             WriteFile(p, "[Принтер]\r\nотступ слева=3\r\n");
                             ::chmod(p.c_str(), 0);
                         }});
    }
    const fs::path ini = Folder() / "calvix.ini";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        c.make(ini);
        const fs::file_type type = fs::symlink_status(ini).type();
        DialogService::SetNextAnswer(ModalResult::mrOk);
        TMainForm& form = Start();
        EXPECT_TRUE(form.InitFailed());
        auto shown = DialogService::TakeShown();
        ASSERT_EQ(shown.size(), 1u);
        EXPECT_EQ(shown[0].text, text::kInitFailed);
        EXPECT_EQ(shown[0].caption, text::kError);
        Stop();
        EXPECT_TRUE(DialogService::TakeShown().empty()) << "nothing is written at the end";
        EXPECT_EQ(fs::symlink_status(ini).type(), type);
        ::chmod(ini.c_str(), 0644);
        if (c.what == std::string_view("mode 000")) {
            EXPECT_EQ(ReadFile(ini), platform::Utf8ToCp1251("[Принтер]\r\nотступ слева=3\r\n"));
        }
        fs::remove_all(ini);
    }
}

TEST_F(MainFormStartTest, ConfigurationBehindALinkIsWrittenThroughIt) {
    WriteFile(Folder() / "etc" / "calvix.ini", "[old]\r\na=1\r\n");
    fs::create_symlink("etc/calvix.ini", Folder() / "calvix.ini");
    TMainForm& form = Start();
    EXPECT_EQ(form.Config()->Ini().ReadString("old", "a", ""), "1");
    form.Config()->Ini().WriteString("new", "b", "2");
    Stop();
    EXPECT_TRUE(DialogService::TakeShown().empty());
    EXPECT_TRUE(fs::is_symlink(Folder() / "calvix.ini"));
    EXPECT_EQ(ReadFile(Folder() / "etc" / "calvix.ini"), "[old]\r\na=1\r\n[new]\r\nb=2\r\n");
}

// Without root the read-only file cannot be written: the box comes and the file stays. Root may
// write it, as it could in place, and the file stays read-only.
TEST_F(MainFormStartTest, ReadOnlyConfigurationKeepsItsMode) {
    const fs::path ini = Folder() / "calvix.ini";
    WriteFile(ini, "[old]\r\na=1\r\n");
    ASSERT_EQ(::chmod(ini.c_str(), 0444), 0);
    const bool root = ::geteuid() == 0;
    if (!root) {
        ::chmod(Folder().c_str(), 0777);  // the folder itself would take a rename
        DialogService::SetNextAnswer(ModalResult::mrOk);
    }
    TMainForm& form = Start();
    form.Config()->Ini().WriteString("new", "b", "2");
    Stop();
    const auto shown = DialogService::TakeShown();
    if (root) {
        EXPECT_TRUE(shown.empty());
        EXPECT_EQ(ReadFile(ini), "[old]\r\na=1\r\n[new]\r\nb=2\r\n");
    } else {
        ASSERT_EQ(shown.size(), 1u);
        EXPECT_EQ(shown[0].text, text::kConfigSaveFailed);
        EXPECT_EQ(ReadFile(ini), "[old]\r\na=1\r\n");
    }
    struct stat info {};
    ASSERT_EQ(::stat(ini.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0444u);
}

using ArchiveModeTest = GuiTest;

TEST_F(ArchiveModeTest, EmptyArchiveReturnsToTheModeWindow) {
    Start();
    Click("btMemoMode");
    ExpectOnly("panHCError");
    EXPECT_EQ(ErrorText(), "В архиве не найден ни один отчет.");
    EXPECT_TRUE(Find("btHCError")->hasFocus());
    Click("btHCError");
    ExpectOnly("panSelectMode");
}

TEST_F(ArchiveModeTest, ChooseReadAndStepThroughSavedReports) {
    WriteFile(Folder() / "Archive" / "Прибор № 7, ул. Мира, Ведомость%3A май 100%25.txt", kReport);
    WriteFile(Folder() / "Archive" / "b empty.txt", "no table here");
    WriteFile(Folder() / "Archive" / "c.txt", kReport);
    TMainForm& form = Start();
    Click("btMemoMode");
    ExpectOnly("panReport");
    EXPECT_EQ(form.windowTitle(), Q("Программа \"Ведар\". Работа с архивом."));
    EXPECT_EQ(Find<QStatusBar>("StatusBar1")->currentMessage(),
              Q("Для получения помощи нажмите \"F1\""));
    EXPECT_EQ(Find<QLabel>("lbTopReport")->text(), Q("Окно выбора отчетов в архиве компьютера"));
    EXPECT_EQ(Find<QLabel>("lb1R")->text(), Q("Отчеты в архиве"));
    EXPECT_TRUE(Find("lbInfoReport")->isHidden());
    EXPECT_EQ(Find<QPushButton>("btStartR")->text(), Q("Дальше"));
    EXPECT_FALSE(Find("btCalendarR")->isEnabled());
    EXPECT_FALSE(Find("btSeveralDaysR")->isEnabled());

    const auto& boxes = form.ReportCheckBoxes();
    ASSERT_EQ(boxes.size(), 3u);
    EXPECT_EQ(boxes[0]->text(), Q("b empty"));
    EXPECT_EQ(boxes[1]->text(), Q("c"));
    EXPECT_EQ(boxes[2]->text(), Q("Прибор № 7, ул. Мира, Ведомость: май 100%"));
    EXPECT_EQ(boxes[2]->parentWidget()->parentWidget()->parentWidget(), Find("ScrollBoxReport"));
    EXPECT_EQ(boxes[1]->y(), 17);
    EXPECT_EQ(form.VerticalRange(), 51);
    EXPECT_EQ(form.HorizontalRange(), 0);

    // Nothing chosen.
    Click("btStartR");
    ExpectOnly("panHCError");
    EXPECT_EQ(ErrorText(), "Вы не выбрали ни одного отчета");
    Click("btHCError");
    ExpectOnly("panReport");

    boxes[0]->click();
    boxes[2]->click();
    EXPECT_EQ(boxes[0]->palette().color(QPalette::Window), QColor(0, 0, 0x80));
    EXPECT_EQ(boxes[0]->palette().color(QPalette::WindowText), QColor(Qt::white));
    EXPECT_EQ(boxes[1]->palette().color(QPalette::Window), QColor(Qt::white));
    Click("btStartR");
    ExpectOnly("panText");
    EXPECT_TRUE(Visible("btDeleteText"));
    EXPECT_TRUE(Visible("btDeleteAllText"));
    EXPECT_FALSE(Visible("btSaveText"));
    EXPECT_FALSE(Visible("btSaveAllText"));
    auto* list = Find<QListWidget>("listViewReport");
    ASSERT_EQ(list->count(), 2);
    EXPECT_EQ(list->currentRow(), 0);
    EXPECT_EQ(form.CreatedReports().at(1),
              platform::Utf8ToCp1251("Archive\\Прибор № 7, ул. Мира, Ведомость%3A май 100%25.txt"));
    auto* memo = Find<QTextEdit>("mmText");
    EXPECT_EQ(memo->toPlainText(), Q("Отчет пуст"));
    EXPECT_EQ(memo->font().pointSize(), 14);
    EXPECT_EQ(memo->alignment(), Qt::AlignHCenter);

    Click("btNextText");
    EXPECT_EQ(list->currentRow(), 1);
    EXPECT_TRUE(memo->toPlainText().startsWith(Q("Ведомость учета тепловой энергии\n+------+")));
    EXPECT_EQ(memo->font().pointSize(), 10);
    EXPECT_EQ(memo->font().family(), Q("Courier New"));
    EXPECT_TRUE(memo->isReadOnly());
    EXPECT_EQ(memo->lineWrapMode(), QTextEdit::NoWrap);
    Click("btNextText");  // on the last report: nothing
    EXPECT_EQ(list->currentRow(), 1);
    Click("btPrevText");
    EXPECT_EQ(list->currentRow(), 0);
    Click("btPrevText");
    EXPECT_EQ(list->currentRow(), 0);
    EXPECT_EQ(memo->toPlainText(), Q("Отчет пуст"));

    Click("btSelectReportText");
    ExpectOnly("panViewReport");
    EXPECT_TRUE(list->hasFocus());
    EXPECT_TRUE(Find("btReturnVR")->isHidden());
    list->setCurrentRow(1);
    Click("btStartVR");
    ExpectOnly("panText");
    EXPECT_TRUE(memo->toPlainText().contains(Q("| День |")));

    Click("btReturnText");
    ExpectOnly("panReport");
    EXPECT_TRUE(boxes[2]->isChecked()) << "the choice stays";
    Click("btReturnR");
    ExpectOnly("panSelectMode");
    EXPECT_EQ(form.windowTitle(), Q("Программа \"Ведар\"."));
    EXPECT_EQ(form.CurrentWorkState(), WorkState::stArchive);
}

TEST_F(ArchiveModeTest, MissingAndUnreadableReports) {
    std::filesystem::create_directories(Folder() / "Archive" / "dir.txt");
    TMainForm& form = Start();
    auto* memo = Find<QTextEdit>("mmText");
    form.PanelWidget(Panel::SelectMode)->hide();
    form.OpenReport("");
    ExpectOnly("panText");
    EXPECT_EQ(memo->toPlainText(), Q("Отчет не найден"));
    form.OpenReport("Archive\\gone.txt");
    EXPECT_EQ(memo->toPlainText(), Q("Отчет не найден"));
    form.OpenReport("Archive\\dir.txt");
    EXPECT_EQ(memo->toPlainText(), Q("Ошибка при чтении отчета"));
    EXPECT_EQ(memo->font().pointSize(), 14);
}

TEST_F(ArchiveModeTest, LongTitlesWidenTheScrollRangeAndClearAllUnchecks) {
    const std::string longTitle(200, 'W');
    WriteFile(Folder() / "Archive" / (longTitle + ".txt"), kReport);
    WriteFile(Folder() / "Archive" / "short.txt", kReport);
    TMainForm& form = Start();
    Click("btMemoMode");
    const QFont boxFont = form.ReportCheckBoxes().at(0)->font();
    EXPECT_EQ(boxFont.pointSize(), 10);
    const int widest = QFontMetrics(boxFont).horizontalAdvance(QString::fromStdString(longTitle));
    EXPECT_EQ(form.HorizontalRange(), widest + 40);
    for (QCheckBox* box : form.ReportCheckBoxes()) {
        EXPECT_EQ(box->width(), widest + 40);
        box->click();
    }
    Click("btAllClearR");
    for (QCheckBox* box : form.ReportCheckBoxes()) {
        EXPECT_FALSE(box->isChecked());
        EXPECT_EQ(box->palette().color(QPalette::Window), QColor(Qt::white));
    }
}

// The report lists follow the window; the keyboard moves through them as the screen shows them.
TEST_F(ArchiveModeTest, ReportListsFollowTheWindowAndTheKeyboard) {
    constexpr int kReports = 60;
    for (int i = 0; i < kReports; ++i) {
        WriteFile(Folder() / "Archive" / ("r" + std::to_string(100 + i) + ".txt"), kReport);
    }
    TMainForm& form = Start();
    form.resize(1000, 760);
    QApplication::processEvents();
    Click("btMemoMode");
    QWidget* main = Find("panMain");
    QWidget* report = Find("panReport");
    EXPECT_EQ(report->width(), std::min(main->width() - 40, kListPanelMaxWidth));
    EXPECT_EQ(report->height(), main->height() - 40);
    EXPECT_EQ(Find("btExitR")->geometry().right(), report->width() - 21);
    EXPECT_EQ(Find("ScrollBoxReport")->width(), report->width() - 40);
    EXPECT_EQ(Find("listViewReport")->width(), Find("panViewReport")->width() - 40);

    // Many short captions need a vertical scroll bar and nothing sideways.
    auto* scroll = Find<QScrollArea>("ScrollBoxReport");
    QApplication::processEvents();
    EXPECT_TRUE(scroll->verticalScrollBar()->isVisible());
    EXPECT_FALSE(scroll->horizontalScrollBar()->isVisible());
    EXPECT_EQ(form.HorizontalRange(), 0);

    // Arrow keys step from box to box and scroll the list down, never sideways.
    const auto& boxes = form.ReportCheckBoxes();
    boxes.front()->setFocus();
    for (int i = 1; i < kReports; ++i) {
        Key(Qt::Key_Down);
    }
    QApplication::processEvents();
    EXPECT_TRUE(boxes.back()->hasFocus());
    EXPECT_GT(scroll->verticalScrollBar()->value(), 0);
    Key(Qt::Key_Up);
    EXPECT_TRUE(boxes[kReports - 2]->hasFocus());

    // Tab goes from the last box to the buttons in their rows, left to right.
    boxes.back()->setFocus();
    std::vector<QString> order;
    for (int i = 0; i < 4; ++i) {
        Key(Qt::Key_Tab);
        order.push_back(QApplication::focusWidget()->objectName());
    }
    EXPECT_EQ(order, (std::vector<QString>{"btStartR", "btAllClearR", "btReturnR", "btExitR"}));
}

TEST_F(ArchiveModeTest, ArrowKeysKeepAWideListWhereTheOperatorScrolledIt) {
    for (int i = 0; i < 3; ++i) {
        WriteFile(Folder() / "Archive" / (std::to_string(i) + std::string(150, 'W') + ".txt"),
                  kReport);
    }
    TMainForm& form = Start();
    Click("btMemoMode");
    auto* scroll = Find<QScrollArea>("ScrollBoxReport");
    QApplication::processEvents();
    ASSERT_TRUE(scroll->horizontalScrollBar()->isVisible());
    const auto& boxes = form.ReportCheckBoxes();
    boxes.front()->setFocus();
    for (int key : {Qt::Key_Down, Qt::Key_Right, Qt::Key_Up, Qt::Key_Left}) {
        Key(key);
        QApplication::processEvents();
        EXPECT_EQ(scroll->horizontalScrollBar()->value(), 0) << key;
    }
    EXPECT_TRUE(boxes.front()->hasFocus());
}

using ModesTest = GuiTest;

TEST_F(ModesTest, HeatCalculatorWindowShowsTheConnection) {
    WriteFile(Folder() / "calvix.ini",
              "[Чтение данных из TV540]\r\nпорт=COM3\r\nскорость=19200\r\nабонент=12\r\n"
              "чтение данных через модем=да\r\nномер телефона=5551234\r\n");
    TMainForm& form = Start();
    Click("btTV540Mode");
    ExpectOnly("panHCWork");
    EXPECT_EQ(form.CurrentWorkState(), WorkState::stHCReports);
    EXPECT_EQ(form.windowTitle(), Q("Программа \"Ведар\". Работа с тепловычислителем."));
    EXPECT_EQ(Find<QLabel>("lbHCPortName")->text(), Q("Порт - COM3"));
    EXPECT_EQ(Find<QLabel>("lbHCPortSpeed")->text(), Q("Скорость - 19200"));
    EXPECT_EQ(Find<QLabel>("lbUseModem")->text(), Q("Чтение данных через модем (тел. 5551234)"));
    EXPECT_FALSE(Find("lbUseModem")->isHidden());
    EXPECT_EQ(Find<QLineEdit>("edHCNumber")->text(), Q("12"));
    EXPECT_EQ(Find<QPushButton>("btStartR")->text(), Q("Создать отчеты"));
    Click("btHCBack");
    ExpectOnly("panSelectMode");
}

TEST_F(ModesTest, UpdModeWithoutCatalogReaderReturnsWithAnError) {
    WriteFile(Folder() / "_katalog", "1 - old");
    WriteFile(Folder() / "dat", "old");
    TMainForm& form = Start();
    form.Hooks().startCatalogReader = nullptr;
    Click("btUPDMode");
    EXPECT_EQ(form.CurrentWorkState(), WorkState::stUpdReports);
    EXPECT_FALSE(std::filesystem::exists(Folder() / "_katalog"));
    EXPECT_FALSE(std::filesystem::exists(Folder() / "dat"));
    ExpectOnly("panHCError");
    EXPECT_EQ(ErrorText(), "Ошибка при чтении списка архивов из УПД.");
    EXPECT_EQ(form.windowTitle(), Q("Программа \"Ведар\"."));
    Click("btHCError");
    ExpectOnly("panSelectMode");

    bool started = false;
    form.Hooks().startCatalogReader = [&] { return started = true; };
    Click("btUPDMode");
    EXPECT_TRUE(started);
    ExpectOnly("panWait");
    EXPECT_EQ(Find<QLabel>("lb1WaitTime")->text(), Q("Считывается список архивов из УПД"));
    EXPECT_EQ(form.windowTitle(), Q("Программа \"Ведар\". Работа с УПД."));
}

TEST_F(ModesTest, MissingOperatorManual) {
    Start();
    Click("btHCRukov");
    ExpectOnly("panHCError");
    EXPECT_EQ(ErrorText(), "Не найден файл hc\\ведар_рп.doc");
    Click("btHCError");
    ExpectOnly("panSelectMode");
}

using StateTableGuiTest = GuiTest;

TEST_F(StateTableGuiTest, ReportWindowsOfTheHeatCalculator) {
    TMainForm& form = Start();
    Click("btTV540Mode");
    form.PanelWidget(Panel::HCWork)->hide();  // as the read question does
    form.DataTaken("hc\\dat1hc");
    ExpectOnly("panReport");
    EXPECT_EQ(Find<QLabel>("lbTopReport")->text(), Q("Окно выбора отчетов тепловычислителя"));
    EXPECT_EQ(Find<QLabel>("lb1R")->text(), Q("Отчеты в тепловычислителе"));
    EXPECT_FALSE(Find("lbInfoReport")->isHidden());
    EXPECT_GT(Find("lb1R")->y(), Find("lbInfoReport")->y());

    auto* dates = Find<QListWidget>("lbHCDateSelected");
    dates->addItem(QStringLiteral("01.02.2006"));
    Click("btCalendarR");
    EXPECT_EQ(form.CurrentWorkState(), WorkState::stHCHourly);
    ExpectOnly("panHCDateSelect");
    EXPECT_EQ(dates->count(), 0);
    Click("btHCDateBack");
    EXPECT_EQ(form.CurrentWorkState(), WorkState::stHCReports);
    ExpectOnly("panReport");
    Click("btSeveralDaysR");
    EXPECT_EQ(form.CurrentWorkState(), WorkState::stHCSeveralDays);
    ExpectOnly("panHCAnyDay");
    Click("btHCAnyDayBack");
    EXPECT_EQ(form.CurrentWorkState(), WorkState::stHCReports);

    Click("btStartR");  // no template chosen
    ExpectOnly("panHCError");
    EXPECT_EQ(ErrorText(), "Вы не выбрали ни одного отчета");
    Click("btHCError");
    ExpectOnly("panReport");
    Click("btReturnR");
    ExpectOnly("panHCWork");
}

TEST_F(StateTableGuiTest, WorkerErrorCaptionReturnsToTheChosenPanel) {
    TMainForm& form = Start();
    const std::pair<HCErrorReturn, const char*> cases[] = {
        {HCErrorReturn::HCWork, "panHCWork"},
        {HCErrorReturn::HCAutoSearch, "panHCAutoSearch"},
        {HCErrorReturn::HCCurrent, "panHCCurrent"},
    };
    for (const auto& [returnTo, panel] : cases) {
        for (Panel p : kAllPanels) {
            form.PanelWidget(p)->hide();
        }
        form.ShowHCErrorCaption(W1251("Ошибка связи."), returnTo);
        ExpectOnly("panHCError");
        Click("btHCError");
        ExpectOnly(panel);
    }
}

TEST_F(StateTableGuiTest, TextWindowReturnsToTheWindowOfItsState) {
    TMainForm& form = Start();
    using enum WorkState;
    const std::pair<WorkState, const char*> cases[] = {
        {stArchive, "panReport"},         {stUpdReports, "panReport"},
        {stHCReports, "panReport"},       {stUpdHourly, "panHCDateSelect"},
        {stHCHourly, "panHCDateSelect"},  {stUpdSeveralDays, "panHCAnyDay"},
        {stHCSeveralDays, "panHCAnyDay"},
    };
    for (const auto& [state, panel] : cases) {
        form.PanelWidget(Panel::SelectMode)->hide();
        for (Panel p : kAllPanels) {
            form.PanelWidget(p)->hide();
        }
        form.SetWorkState(state);
        std::filesystem::current_path("/");
        form.OpenReport("");
        std::filesystem::current_path("/");
        Click("btReturnText");
        ExpectOnly(panel);
        EXPECT_EQ(form.CurrentWorkState(), state);
        const bool backHome = std::filesystem::current_path() == Folder();
        EXPECT_EQ(backHome, state == stArchive || state == stUpdReports || state == stHCReports)
            << panel;
    }
    std::filesystem::current_path(Folder());
}

TEST_F(StateTableGuiTest, TemplateMarksSurviveGoingBackAndARestart) {
    WriteFile(Folder() / "calvix.ini",
              "[Чтение данных из TV540]\r\nтип=TV540\r\n"
              "[TV540 версия 60]\r\nсписок шаблонов=Список\r\n"
              "[Список]\r\na=Первый<выбран>\r\nb=Второй\r\n-c=Скрытый\r\n");
    auto enterReports = [this](TMainForm& form) {
        form.Hooks().inspectDataFile = [&form](std::string_view file) {
            EXPECT_EQ(file, "hc\\dat1hc");
            form.SetDeviceInfo("", "7", 60);
        };
        Click("btTV540Mode");
        form.PanelWidget(Panel::HCWork)->hide();
        form.DataTaken("hc\\dat1hc");
        ExpectOnly("panReport");
    };
    {
        TMainForm& form = Start();
        enterReports(form);
        EXPECT_EQ(Find<QLabel>("lbInfoReport")->text(), Q("Адрес: 7"));
        const auto& boxes = form.ReportCheckBoxes();
        ASSERT_EQ(boxes.size(), 2u);
        EXPECT_EQ(boxes[0]->text(), Q("Первый"));
        EXPECT_TRUE(boxes[0]->isChecked());
        EXPECT_EQ(boxes[0]->palette().color(QPalette::Window), QColor(0, 0, 0x80));
        EXPECT_FALSE(boxes[1]->isChecked());
        boxes[0]->click();
        boxes[1]->click();
        Click("btReturnR");
        ExpectOnly("panHCWork");
        EXPECT_TRUE(form.ReportCheckBoxes().empty());
        const std::string section = platform::Utf8ToCp1251("Список");
        EXPECT_EQ(form.Config()->Ini().ReadString(section, "a", ""),
                  platform::Utf8ToCp1251("Первый"));
        EXPECT_EQ(form.Config()->Ini().ReadString(section, "b", ""),
                  platform::Utf8ToCp1251("Второй<выбран>"));
        // Marks are written once more at exit, from the boxes shown then.
        form.DataTaken("hc\\dat1hc");
        Stop();
    }
    EXPECT_NE(ReadFile(Folder() / "calvix.ini").find(platform::Utf8ToCp1251("b=Второй<выбран>")),
              std::string::npos);
    {
        TMainForm& form = Start();
        enterReports(form);
        const auto& boxes = form.ReportCheckBoxes();
        ASSERT_EQ(boxes.size(), 2u);
        EXPECT_FALSE(boxes[0]->isChecked());
        EXPECT_TRUE(boxes[1]->isChecked());
    }
}

using KeysTest = GuiTest;

TEST_F(KeysTest, F1ShowsTheHelpOfTheVisiblePanel) {
    TMainForm& form = Start();
    DialogService::SetNextAnswer(ModalResult::mrYes);
    Key(Qt::Key_F1);
    auto shown = DialogService::TakeShown();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].what, "THelpBox");
    auto* help = form.HelpBox()->findChild<QLabel*>(QStringLiteral("lbHelp"));
    EXPECT_TRUE(help->text().startsWith(Q("Для переключения программы в режим работы с УПД\n")));
    EXPECT_EQ(form.HelpBox()->width(), help->width() + 40) << "a long text widens the window";

    form.Hooks().startCatalogReader = [] { return false; };
    Click("btUPDMode");  // ends on the error panel
    DialogService::TakeShown();
    Key(Qt::Key_F1);
    EXPECT_TRUE(DialogService::TakeShown().empty());
}

TEST_F(KeysTest, AboutPrinterAndMaximise) {
    TMainForm& form = Start();
    for (int i = 0; i < 2; ++i) {
        DialogService::SetNextAnswer(ModalResult::mrYes);
        Key(Qt::Key_A, Qt::ControlModifier);
        const auto shown = DialogService::TakeShown();
        ASSERT_EQ(shown.size(), 1u);
        EXPECT_EQ(shown[0].what, "TAboutBox");
        EXPECT_EQ(form.AboutBox()->windowTitle(), Q("О программе"));
        EXPECT_TRUE(form.AboutBox()->findChild<QWidget*>(QStringLiteral("BitBtn1"))->isHidden());
        EXPECT_TRUE(form.AboutBox()->findChild<QWidget*>(QStringLiteral("BitBtn2"))->isHidden());
        EXPECT_FALSE(
            form.AboutBox()->findChild<QWidget*>(QStringLiteral("btAboutClose"))->isHidden());
    }

    Key(Qt::Key_B, Qt::ControlModifier);
    EXPECT_TRUE(DialogService::TakeShown().empty()) << "no printer choice in the mode window";
    form.OpenReport("");
    Find("mmText")->setFocus();
    DialogService::SetNextAnswer(ModalResult::mrOk);
    Key(Qt::Key_B, Qt::ControlModifier);
    auto shown = DialogService::TakeShown();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].what, "TSelectPrinterBox");

    // Ctrl+A in the read-only memo is the about window, not "select all".
    DialogService::SetNextAnswer(ModalResult::mrYes);
    Key(Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(DialogService::TakeShown().size(), 1u);

    Key(Qt::Key_F2);
    EXPECT_TRUE(form.isMaximized());
    Key(Qt::Key_F2);
    EXPECT_FALSE(form.isMaximized());
}

TEST_F(KeysTest, ResizeCentresPanelsAndLaysOutTheTextWindow) {
    TMainForm& form = Start();
    form.resize(900, 700);
    QApplication::processEvents();
    QWidget* main = Find("panMain");
    QWidget* mode = Find("panSelectMode");
    EXPECT_EQ(mode->x(), (main->width() - mode->width()) / 2);
    EXPECT_EQ(mode->y(), (main->height() - mode->height()) / 2);
    QWidget* text = Find("panText");
    EXPECT_EQ(text->geometry(), QRect(5, 5, main->width() - 10, main->height() - 10));
    EXPECT_EQ(Find("btPrevText")->x(), Find("btNextText")->x());
    EXPECT_EQ(Find("btExitText")->x(), Find("btReturnText")->x());
    EXPECT_EQ(Find("btDeleteAllText")->x(), Find("btSaveText")->x());
    EXPECT_EQ(Find("btNextText")->y(), Find("lbTopText")->height() + 15);
    QWidget* memo = Find("mmText");
    EXPECT_EQ(memo->y(), Find("btPrintText")->geometry().bottom() + 1 + 15);
    EXPECT_EQ(memo->geometry().bottom() + 1, text->height() - 10);
}

TEST_F(KeysTest, WorkersRunOnTheGuiThread) {
    TMainForm& form = Start();
    RunOnMainThread run = form.MainThread();
    std::thread::id ranOn;
    std::atomic<bool> done{false};
    std::thread worker([&] {
        run([&] { ranOn = std::this_thread::get_id(); });
        done = true;
    });
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!done && std::chrono::steady_clock::now() < deadline) {
        QApplication::processEvents();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_TRUE(done);
    if (!done) {
        Stop();  // releases the waiting call
    }
    worker.join();
    EXPECT_EQ(ranOn, std::this_thread::get_id());
    if (!form_) {
        return;
    }
    bool inline_ = false;
    run([&] { inline_ = true; });  // from the GUI thread itself: at once
    EXPECT_TRUE(inline_);
}

}  // namespace
}  // namespace calvix::testing_gui
