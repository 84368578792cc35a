// Report creation through the real main window and the real report builder, on data files the
// reader wrote from emulated heat calculators.
#include <QCalendarWidget>
#include <QCheckBox>
#include <QListWidget>
#include <QProgressBar>
#include <QStatusBar>
#include <QTextEdit>

#include "gui/report_creation.h"
#include "gui/rules/texts.h"
#include "platform/file_io.h"
#include "tests/builder/emulated_data.h"
#include "tests/gui/gui_fixture.h"
#include "tests/support/data_records.h"

namespace calvix::testing_gui {
namespace {

constexpr long long kClock = 1733580000;  // 2024-12-07 14:00:00 UTC

std::string W(const char* utf8) {
    return platform::Utf8ToCp1251(utf8);
}

// The device section of calvix.ini with its two template lists; UTF-8.
std::string IniText(const char* type, const std::string& reports, const std::string& days) {
    return std::string("[Чтение данных из TV540]\nтип=") + type + "\n[" + type +
           "]\nсписок шаблонов=Отчеты\n"
           "список шаблонов отчетов за несколько дней=Несколько дней\n"
           "папка с шаблонами=sbl\n[Отчеты]\n" +
           reports + "[Несколько дней]\n" + days;
}

constexpr const char* kReports =
    "month_hw=Ведомость за отчетный месяц<выбран>\n"
    "prev_hw=Ведомость за прошлый месяц<выбран>\n"
    "day_hw=Суточная ведомость\n";
constexpr const char* kDays =
    "days_hw=Ведомость по суткам<выбран>\n"
    "tp_hw=Температуры и давления по суткам\n";

class ReportCreationTest : public GuiTest {
  protected:
    void TearDown() override {
        GuiTest::TearDown();
        TReportCreation::SetBudgetSecond(std::chrono::seconds(1));
    }

    // A version-60 reading of the emulated device in hc\dat1hc, the shipped templates, the
    // builder installed; the window on its report selection.
    TMainForm& Open(const char* reports = kReports, const char* days = kDays) {
        emulators::HcConfig config;
        config.version = 60;
        config.seed = 11;
        config.clockEpoch = kClock;
        config.hourlyRecords = 40;
        buildertest::ReadEmulatedVersion60(config, Folder());
        return StartOn("TV540", reports, days);
    }

    // The 180-day archive of a version-53 device in hc\dat2hc, and in hc\dat1hc the clock and
    // settings that make the window take it (a "TV540W" device).
    TMainForm& OpenVersion53() {
        emulators::HcConfig config;
        config.version = 53;
        config.seed = 11;
        config.clockEpoch = kClock;
        buildertest::ReadEmulated180Days(config, Folder());
        std::string settings(24, '\0');
        settings[14] = 53;
        WriteFile(Folder() / "hc" / "dat1hc",
                  testsupport::Record({0xE6, 0, '6', 0x11, 0}, {0, 0, 0x14, 0x07, 0x12, 0x24}) +
                      testsupport::Record({0xE6, 0, '=', 0x20, 0}, settings),
                  false);
        return StartOn("TV540W", kReports, kDays);
    }

    TMainForm& StartOn(const char* type, const char* reports, const char* days) {
        WriteFile(Folder() / "calvix.ini", IniText(type, reports, days));
        buildertest::CopyShippedTemplates(Folder());
        fs::copy_file(TOUCH_PROGRAM, Folder() / "touch.exe");
        fs::copy_file(TOUCH_PROGRAM, Folder() / "hc" / "touch180.exe");
        TMainForm& form = Start();
        Click("btTV540Mode");
        form.PanelWidget(Panel::HCWork)->hide();
        form.DataTaken("hc\\dat1hc");
        return form;
    }

    // A builder of our own in place of the real one.
    void InstallBuilder(const std::string& script) {
        fs::remove(Folder() / "touch.exe");
        WriteFile(Folder() / "touch.exe", "#!/bin/sh\n" + script + "\n", false);
        fs::permissions(Folder() / "touch.exe", fs::perms::owner_all);
    }

    void WaitForEnd() {
        ASSERT_TRUE(WaitUntil([this] { return Visible("panText") || Visible("panHCError"); }))
            << "the creation did not end";
    }

    std::vector<std::string> ListCaptions(const TMainForm& form) {
        std::vector<std::string> captions;
        for (int row = 0; row < form.ReportList()->count(); ++row) {
            captions.push_back(From1251Widget(form.ReportList()->item(row)->text()));
        }
        return captions;
    }
    std::string Memo(const TMainForm& form) { return form.Memo()->toPlainText().toStdString(); }
    void Select(const char* calendar, QDate date) {
        Find<QCalendarWidget>(calendar)->setSelectedDate(date);
    }
};

TEST_F(ReportCreationTest, MonthReportsAreBuiltListedAndTheFirstShown) {
    TMainForm& form = Open();
    const auto& boxes = form.ReportCheckBoxes();
    ASSERT_EQ(boxes.size(), 3u);
    Click("btStartR");
    WaitForEnd();
    ExpectOnly("panText");
    EXPECT_EQ(form.CreatedReports(),
              (std::vector<std::string>{"hc\\txt\\month_hw.txt", "hc\\txt\\prev_hw.txt"}));
    EXPECT_EQ(ListCaptions(form), (std::vector<std::string>{TMainForm::CheckBoxCaption(boxes[0]),
                                                            TMainForm::CheckBoxCaption(boxes[1])}));
    EXPECT_TRUE(fs::exists(Folder() / "hc" / "txt" / "month_hw.txt"));
    EXPECT_FALSE(fs::exists(Folder() / "hc" / "txt" / "day_hw.txt"));
    EXPECT_EQ(form.ReportList()->currentRow(), 0);
    EXPECT_NE(Memo(form).find("+--"), std::string::npos);
    EXPECT_EQ(Find<QProgressBar>("pbWaitReport")->value(), 2);
    EXPECT_EQ(From1251Widget(form.statusBar()->currentMessage()), text::kStatusHelp);
}

TEST_F(ReportCreationTest, HourlyReportsForTwoDates) {
    TMainForm& form = Open();
    Click("btCalendarR");
    ExpectOnly("panHCDateSelect");
    Find<QListWidget>("lbHCDateSelected")->addItems({Q("06.12.2024"), Q("07.12.2024")});
    Click("btHCDateReportCreate");
    WaitForEnd();
    ExpectOnly("panText");
    EXPECT_EQ(form.CreatedReports(),
              (std::vector<std::string>{"hc\\txt\\061224.txt", "hc\\txt\\071224.txt"}));
    EXPECT_EQ(ListCaptions(form),
              (std::vector<std::string>{W("6 декабря 2024 г"), W("7 декабря 2024 г")}));
    EXPECT_NE(Memo(form).find("|Итого|"), std::string::npos);
}

TEST_F(ReportCreationTest, SeveralDayTemplatesGetThePeriodInTheirCycleLine) {
    TMainForm& form = Open();
    const std::string shipped = ReadFile(Folder() / "sbl" / "days_hw.sbl");
    Click("btSeveralDaysR");
    ExpectOnly("panHCAnyDay");
    EXPECT_TRUE(Find<QCheckBox>("AnyDayCheckBox0")->isChecked());
    EXPECT_FALSE(Find<QCheckBox>("AnyDayCheckBox1")->isChecked());
    Select("MonthCalendar3", QDate(2024, 11, 25));
    Select("MonthCalendar4", QDate(2024, 12, 3));
    Click("btHCAnyDayNext");
    WaitForEnd();
    ExpectOnly("panText");
    // Only the numbers changed: the rest of the line, the 1251 bytes and CR LF stay.
    const std::string rewritten = ReadFile(Folder() / "sbl" / "days_hw.sbl");
    ASSERT_TRUE(shipped.starts_with("@cycle 1,0 "));
    EXPECT_EQ(rewritten, "@cycle 10,24 " + shipped.substr(11));
    EXPECT_EQ(form.CreatedReports(), std::vector<std::string>{"hc\\txt\\days_hw.txt"});
    EXPECT_EQ(
        ListCaptions(form),
        std::vector<std::string>{W("25 ноября 2024 г - 3 декабря 2024 г, Ведомость по суткам")});
    EXPECT_NE(Memo(form).find("С 25.11.2024 ПО 03.12.2024"), std::string::npos);
}

TEST_F(ReportCreationTest, WithoutACycleLineTheSeveralDaysWindowReappears) {
    Open(kReports, "plain_hw=Без строки cycle<выбран>\n");
    WriteFile(Folder() / "sbl" / "plain_hw.sbl", "no cycle line\r\n", false);
    Click("btSeveralDaysR");
    Click("btHCAnyDayNext");
    ExpectOnly("panHCAnyDay");
    EXPECT_EQ(ReadFile(Folder() / "sbl" / "plain_hw.sbl"), "no cycle line\r\n");
}

// The 180-day archive of a version-53 device, built by "hc\touch180.exe" over "hc\dat2hc".
TEST_F(ReportCreationTest, DeepArchiveReportsComeFromTheDeepBuilder) {
    TMainForm& form = OpenVersion53();
    ASSERT_TRUE(form.Dates().facts.deepArchiveMode);
    const std::string shipped = ReadFile(Folder() / "sbl" / "days_hw.sbl");
    Click("btSeveralDaysR");
    Select("MonthCalendar3", QDate(2024, 10, 25));
    Select("MonthCalendar4", QDate(2024, 11, 5));
    Click("btHCAnyDayNext");
    WaitForEnd();
    ExpectOnly("panText");
    EXPECT_EQ(form.CreatedReports(), std::vector<std::string>{"hc\\txt\\days_hw.txt"});
    EXPECT_EQ(
        ListCaptions(form),
        std::vector<std::string>{W("25 октября 2024 г - 5 ноября 2024 г, Ведомость по суткам")});
    EXPECT_EQ(ReadFile(Folder() / "sbl" / "days_hw.sbl"), shipped);
    EXPECT_NE(Memo(form).find("+--"), std::string::npos);
}

TEST_F(ReportCreationTest, AMissingTemplateIsReportedAndTheOthersAreMade) {
    TMainForm& form = Open("gone_hw=Нет такого<выбран>\nmonth_hw=Отчетный месяц<выбран>\n");
    DialogService::SetNextAnswer(ModalResult::mrOk);
    Click("btStartR");
    WaitForEnd();
    const auto shown = DialogService::TakeShown();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].caption, W("Ошибка"));
    EXPECT_EQ(shown[0].text, W("Не найден файл шаблона: sbl\\gone_hw.sbl"));
    ExpectOnly("panText");
    EXPECT_EQ(form.CreatedReports(), std::vector<std::string>{"hc\\txt\\month_hw.txt"});
}

TEST_F(ReportCreationTest, WhenNoTemplateExistsNothingRuns) {
    Open("gone_hw=Нет такого<выбран>\n");
    DialogService::SetNextAnswer(ModalResult::mrOk);
    Click("btStartR");
    ExpectOnly("panHCError");
    EXPECT_EQ(ErrorText(), "Ошибка при создании отчетов");
    EXPECT_EQ(DialogService::TakeShown().size(), 1u);
}

// Refusals before any run; each returns to the window that started it.
TEST_F(ReportCreationTest, RefusalsShowTheErrorPanel) {
    const struct {
        const char* window;  // the button that leads there from the report selection
        std::function<void()> prepare;
        const char* button;
        const char* message;
        const char* back;
    } cases[] = {
        {nullptr, [this] { Click("btAllClearR"); }, "btStartR", "Вы не выбрали ни одного отчета",
         "panReport"},
        {"btCalendarR", nullptr, "btHCDateReportCreate", "Вы не выбрали ни одной даты",
         "panHCDateSelect"},
        {"btCalendarR",
         [this] {
             Find<QListWidget>("lbHCDateSelected")->addItem(Q("06.12.2024"));
             fs::remove(Folder() / "touch.exe");
         },
         "btHCDateReportCreate", "Программа touch.exe не найдена", "panHCDateSelect"},
        {"btSeveralDaysR",
         [this] {
             Select("MonthCalendar3", QDate(2024, 12, 2));
             Select("MonthCalendar4", QDate(2024, 12, 1));
         },
         "btHCAnyDayNext", "Неверно выбраны даты.", "panHCAnyDay"},
        {"btSeveralDaysR", [this] { fs::remove(Folder() / "hc" / "dat1hc"); }, "btHCAnyDayNext",
         "Отсутствует файл данных hc\\dat1hc", "panHCAnyDay"},
        {"btSeveralDaysR", [this] { fs::remove(Folder() / "touch.exe"); }, "btHCAnyDayNext",
         "Отсутствует файл touch.exe", "panHCAnyDay"},
        {"btSeveralDaysR", [this] { Click("AnyDayCheckBox0"); }, "btHCAnyDayNext",
         "Вы не выбрали ни одного отчета.", "panHCAnyDay"},
    };
    Open();
    const fs::path data = Folder() / "hc" / "dat1hc";
    fs::copy_file(data, Folder() / "dat1hc.kept");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        if (c.window != nullptr) {
            Click(c.window);
        }
        if (c.prepare) {
            c.prepare();
        }
        Click(c.button);
        ExpectOnly("panHCError");
        EXPECT_EQ(ErrorText(), c.message);
        Click("btHCError");
        ExpectOnly(c.back);
        // Back to the report selection, with the builder and the data file in place again.
        if (c.window != nullptr) {
            Click(std::string(c.back) == "panHCDateSelect" ? "btHCDateBack" : "btHCAnyDayBack");
        }
        if (!fs::exists(Folder() / "touch.exe")) {
            fs::copy_file(TOUCH_PROGRAM, Folder() / "touch.exe");
        }
        if (!fs::exists(data)) {
            fs::copy_file(Folder() / "dat1hc.kept", data);
        }
        Select("MonthCalendar3", QDate(2024, 12, 1));
        Select("MonthCalendar4", QDate(2024, 12, 2));
    }
}

TEST_F(ReportCreationTest, ABuilderThatHangsIsStoppedAndNothingIsListed) {
    TMainForm& form = Open("month_hw=Отчетный месяц<выбран>\n");
    TReportCreation::SetBudgetSecond(std::chrono::milliseconds(10));
    InstallBuilder("echo partial > hc/txt/month_hw.txt\nexec sleep 60");
    Click("btStartR");
    WaitForEnd();
    ExpectOnly("panHCError");
    EXPECT_EQ(ErrorText(), "Не удалось создать ни одного отчета");
    EXPECT_FALSE(fs::exists(Folder() / "hc" / "txt" / "month_hw.txt"));
    EXPECT_TRUE(form.CreatedReports().empty());
    Click("btHCError");
    ExpectOnly("panReport");
}

// A template whose period cannot be written is not run with the numbers of an older period.
TEST_F(ReportCreationTest, ACycleTemplateThatCannotBeWrittenIsLeftOut) {
    Open();
    const fs::path days = Folder() / "sbl" / "days_hw.sbl";
    const std::string shipped = ReadFile(days);
    fs::create_directories(platform::ReplacementPath(days) / "inside");
    Click("btSeveralDaysR");
    DialogService::SetNextAnswer(ModalResult::mrOk);
    Click("btHCAnyDayNext");
    const auto shown = DialogService::TakeShown();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].text, W("Не удалось записать файл шаблона: sbl\\days_hw.sbl"));
    ExpectOnly("panHCAnyDay");
    EXPECT_EQ(ReadFile(days), shipped);
}

// Closing the window while a builder runs stops the builder.
TEST_F(ReportCreationTest, ClosingTheWindowStopsARunningBuilder) {
    Open("month_hw=Отчетный месяц<выбран>\n");
    InstallBuilder("echo $$ > builder.pid\nexec sleep 60");
    Click("btStartR");
    ExpectOnly("panHCReportWait");
    ASSERT_TRUE(WaitUntil([this] { return !ReadFile(Folder() / "builder.pid").empty(); }));
    const std::string pid = ReadFile(Folder() / "builder.pid");
    const fs::path process = "/proc/" + pid.substr(0, pid.find('\n'));
    ASSERT_TRUE(fs::exists(process));
    Stop();
    EXPECT_TRUE(WaitUntil([&] {
        const std::string stat = ReadFile(process / "stat");
        const std::size_t close = stat.rfind(')');
        return close == std::string::npos || stat.compare(close, 3, ") Z") == 0;
    }));
}

TEST_F(ReportCreationTest, AStaleReportIsNotListedWhenTheBuilderWritesNone) {
    Open("month_hw=Отчетный месяц<выбран>\n");
    InstallBuilder("exit 0");
    WriteFile(Folder() / "hc" / "txt" / "month_hw.txt", "+--\r\n", false);
    Click("btStartR");
    WaitForEnd();
    ExpectOnly("panHCError");
    EXPECT_EQ(ErrorText(), "Не удалось создать ни одного отчета");
    EXPECT_FALSE(fs::exists(Folder() / "hc" / "txt" / "month_hw.txt"));
}

// The whole road of a report: created, shown corrected, saved with "Сохранить все", listed in
// the archive mode after a restart as it was shown, and deleted from there.
class ReportRoadTest : public ReportCreationTest {
  protected:
    void SaveListAndDelete(TMainForm& form, const std::string& periodText) {
        ASSERT_NO_FATAL_FAILURE(WaitForEnd());
        ExpectOnly("panText");
        const std::string shown = Memo(form);
        EXPECT_NE(shown.find("+--"), std::string::npos);
        EXPECT_EQ(shown.find("***"), std::string::npos) << "placeholders left:\n" << shown;
        EXPECT_NE(shown.find(periodText), std::string::npos) << shown.substr(0, 600);
        const std::size_t created = form.CreatedReports().size();
        ASSERT_GT(created, 0u);

        Click("btSaveAllText");
        EXPECT_EQ(ErrorText(), "Отчеты сохранены");
        Click("btHCError");
        ExpectOnly("panText");
        std::size_t saved = 0;
        for (const auto& entry : fs::directory_iterator(Folder() / "Archive")) {
            EXPECT_TRUE(entry.path().filename().string().starts_with("Прибор №")) << entry.path();
            ++saved;
        }
        EXPECT_EQ(saved, created);

        // A new start lists the archive; the first report reads as it was shown.
        Stop();
        TMainForm& again = Start();
        Click("btMemoMode");
        ASSERT_EQ(again.ReportCheckBoxes().size(), created);
        for (QCheckBox* box : again.ReportCheckBoxes()) {
            box->click();
        }
        Click("btStartR");
        ExpectOnly("panText");
        const bool firstIsShown = Memo(again) == shown;
        bool shownIsListed = firstIsShown;
        for (int row = 1; row < again.ReportList()->count() && !shownIsListed; ++row) {
            again.ReportList()->setCurrentRow(row);
            again.OpenSelectedReport();
            shownIsListed = Memo(again) == shown;
        }
        EXPECT_TRUE(shownIsListed) << "the saved report differs from the one shown";

        DialogService::SetNextAnswer(ModalResult::mrYes);
        Click("btDeleteAllText");
        EXPECT_EQ(ErrorText(), "Все выбранные отчеты удалены.");
        EXPECT_TRUE(fs::is_empty(Folder() / "Archive"));
        EXPECT_TRUE(again.ReportCheckBoxes().empty());
    }
};

TEST_F(ReportRoadTest, MonthReportsOfAVersion60Device) {
    TMainForm& form = Open();
    Click("btStartR");
    SaveListAndDelete(form, "С 1 НОЯБРЯ ПО 30 НОЯБРЯ 2024 Г.");
}

TEST_F(ReportRoadTest, HourlyReportsOfAVersion60Device) {
    TMainForm& form = Open();
    Click("btCalendarR");
    Find<QListWidget>("lbHCDateSelected")->addItems({Q("06.12.2024"), Q("07.12.2024")});
    Click("btHCDateReportCreate");
    SaveListAndDelete(form, "|Итого|");
}

TEST_F(ReportRoadTest, SeveralDayReportsOfAVersion60Device) {
    TMainForm& form = Open();
    Click("btSeveralDaysR");
    Select("MonthCalendar3", QDate(2024, 11, 28));
    Select("MonthCalendar4", QDate(2024, 12, 2));
    Click("btHCAnyDayNext");
    SaveListAndDelete(form, "С 28.11.2024 ПО 02.12.2024");
}

TEST_F(ReportRoadTest, DeepArchiveReportsOfAVersion53Device) {
    TMainForm& form = OpenVersion53();
    Click("btSeveralDaysR");
    Select("MonthCalendar3", QDate(2024, 10, 25));
    Select("MonthCalendar4", QDate(2024, 11, 5));
    Click("btHCAnyDayNext");
    SaveListAndDelete(form, "+--");
}

}  // namespace
}  // namespace calvix::testing_gui
