// Saving reports into "Archive\" and deleting them, through the real main window.
#include <QCheckBox>
#include <QListWidget>
#include <QTextEdit>

#include "gui/dialogs.h"
#include "gui/rules/report_archive.h"
#include "platform/cp1251_literal.h"
#include "tests/gui/gui_fixture.h"

namespace calvix::testing_gui {
namespace {

constexpr const char* kReport =
    "Ведомость учета\n"
    "+------+------+\n"
    "| День | Q    |\n"
    "+------+------+\n"
    "|  1   | 1.5  |\n"
    "+------+------+\n";

// The file a saved report has: the test correction's first line, then the report, CR LF.
std::string Saved(std::string_view utf8Report) {
    std::string out = "corrected\r\n";
    std::string text = platform::Utf8ToCp1251(utf8Report);
    for (std::size_t start = 0; start < text.size();) {
        const std::size_t end = text.find('\n', start);
        out += text.substr(start, end - start) + "\r\n";
        start = end == std::string::npos ? text.size() : end + 1;
    }
    return out;
}

std::string W(const char* utf8) {
    return platform::Utf8ToCp1251(utf8);
}

struct Report {
    std::string caption;  // UTF-8
    std::string text;     // UTF-8; empty: the file is missing
};

class ReportArchiveTest : public GuiTest {
  protected:
    // Reports as a creation run leaves them in "hc\txt\", listed, the first one shown.
    TMainForm& ShowCreated(const std::vector<Report>& reports, const char* device) {
        TMainForm& form = Start();
        form.SetWorkState(WorkState::stHCReports);
        form.PanReportMode();
        form.SetDeviceTitle(W(device));
        form.Hooks().correctReport = [](std::vector<std::string>& lines) {
            lines.insert(lines.begin(), "corrected");
        };
        std::vector<std::string> paths;
        std::vector<std::string> captions;
        for (std::size_t i = 0; i < reports.size(); ++i) {
            const std::string name = "r" + std::to_string(i) + ".txt";
            if (!reports[i].text.empty()) {
                WriteFile(Folder() / "hc" / "txt" / name, reports[i].text);
            }
            paths.push_back("hc\\txt\\" + name);
            captions.push_back(W(reports[i].caption.c_str()));
        }
        form.SetCreatedReports(paths, captions);
        form.HidePanel(Panel::SelectMode);
        if (!paths.empty()) {
            form.ReportList()->setCurrentRow(0);
            form.OpenReport(paths.front());
        } else {
            form.ShowPanel(Panel::Text);
        }
        return form;
    }

    // The archive mode with every listed report chosen and the first one shown.
    TMainForm& OpenArchive() {
        TMainForm& form = Start();
        Click("btMemoMode");
        for (QCheckBox* box : form.ReportCheckBoxes()) {
            box->click();
        }
        Click("btStartR");
        return form;
    }

    fs::path ArchiveFile(const char* utf8Name) { return Folder() / "Archive" / utf8Name; }
    std::vector<std::string> ArchiveNames() {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(Folder() / "Archive")) {
            names.push_back(entry.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }
    std::string Memo() { return Find<QTextEdit>("mmText")->toPlainText().toStdString(); }
    // Message boxes shown since the last call, as "caption|text" in UTF-8.
    std::vector<std::string> Boxes() {
        std::vector<std::string> boxes;
        for (const DialogService::Shown& shown : DialogService::TakeShown()) {
            if (shown.what == "message") {
                boxes.push_back(platform::Cp1251ToUtf8(shown.caption + "|" + shown.text));
            }
        }
        return boxes;
    }
    std::vector<std::string> BoxCaptions(TMainForm& form) {
        std::vector<std::string> captions;
        for (QCheckBox* box : form.ReportCheckBoxes()) {
            captions.push_back(platform::Cp1251ToUtf8(TMainForm::CheckBoxCaption(box)));
        }
        return captions;
    }
    void ExpectResult(const char* message) {
        ExpectOnly("panHCError");
        EXPECT_EQ(ErrorText(), message);
        Click("btHCError");
        ExpectOnly("panText");
    }
};

TEST_F(ReportArchiveTest, SaveWritesTheShownReportAndSavingAgainReplacesIt) {
    TMainForm& form = ShowCreated({{"Ведомость: май 100%", kReport}}, "Прибор № 12, 3, ");
    EXPECT_TRUE(Visible("btSaveText"));
    Click("btSaveText");
    ExpectResult("Отчет сохранен.");
    const fs::path saved = ArchiveFile("Прибор № 12, 3, Ведомость%3A май 100%25.txt");
    EXPECT_EQ(ReadFile(saved), Saved(kReport));

    const std::string changed = std::string(kReport) + "подпись\n";
    WriteFile(Folder() / "hc" / "txt" / "r0.txt", changed);
    form.OpenReport("hc\\txt\\r0.txt");
    Click("btSaveText");
    ExpectResult("Отчет сохранен.");
    EXPECT_EQ(ReadFile(saved), Saved(changed)) << "replaced without a question";
    EXPECT_EQ(ArchiveNames().size(), 1U);
    EXPECT_TRUE(Boxes().empty());
}

TEST_F(ReportArchiveTest, SaveAllCorrectsEachReportAndNamesTheMissingOne) {
    ShowCreated({{"A", kReport}, {"B", ""}, {"C", "без таблицы\n"}}, "Прибор № 12, 3, ");
    DialogService::SetNextAnswer(ModalResult::mrOk);
    Click("btSaveAllText");
    EXPECT_EQ(Boxes(), std::vector<std::string>{"Ошибка|Ошибка при сохранении отчета (файл не "
                                                "найден).\r\nArchive\\Прибор № 12, 3, B.txt"});
    ExpectResult("Отчеты сохранены");
    EXPECT_EQ(ReadFile(ArchiveFile("Прибор № 12, 3, A.txt")), Saved(kReport));
    EXPECT_EQ(ReadFile(ArchiveFile("Прибор № 12, 3, C.txt")), Saved("без таблицы\n"));
    EXPECT_EQ(ArchiveNames().size(), 2U);
}

TEST_F(ReportArchiveTest, RefusalsOfSaving) {
    struct Case {
        const char* name;
        std::vector<Report> reports;
        bool archiveIsAFile;
        int row;  // the selected report
        const char* button;
        std::vector<std::string> boxes;
        const char* message;
    };
    const std::vector<Case> cases{
        {"nothing selected",
         {{"A", kReport}},
         false,
         -1,
         "btSaveText",
         {},
         "Не выбран отчет для сохранения."},
        {"no reports", {}, false, -1, "btSaveAllText", {}, "Нет отчетов для сохранения."},
        {"every file missing",
         {{"A", ""}},
         false,
         0,
         "btSaveAllText",
         {"Ошибка|Ошибка при сохранении отчета (файл не найден).\r\nArchive\\Не определен, A.txt"},
         "Ни один отчет не был сохранен."},
        {"no archive folder, save",
         {{"A", kReport}},
         true,
         0,
         "btSaveText",
         {},
         "Ошибка при создании каталога Archive."},
        {"no archive folder, save all",
         {{"A", kReport}},
         true,
         0,
         "btSaveAllText",
         {},
         "Ошибка при создании каталога Archive."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(Folder() / "Archive");
        if (c.archiveIsAFile) {
            WriteFile(Folder() / "Archive", "in the way");
        }
        TMainForm& form = ShowCreated(c.reports, "");
        form.ReportList()->setCurrentRow(c.row);
        for (std::size_t i = 0; i < c.boxes.size(); ++i) {
            DialogService::SetNextAnswer(ModalResult::mrOk);
        }
        Click(c.button);
        EXPECT_EQ(Boxes(), c.boxes);
        ExpectResult(c.message);
        EXPECT_FALSE(fs::exists(Folder() / "Archive" / "Не определен, A.txt"));
        Stop();
    }
}

TEST_F(ReportArchiveTest, AReportThatCannotBeWrittenIsNamedInABox) {
    TMainForm& form = ShowCreated({{"A", kReport}}, "");
    fs::create_directories(ArchiveFile("Не определен, A.txt"));  // the name is taken by a folder
    DialogService::SetNextAnswer(ModalResult::mrOk);
    Click("btSaveText");
    EXPECT_EQ(Boxes(), std::vector<std::string>{
                           "Ошибка|Ошибка при сохранении отчета.\r\nArchive\\Не определен, A.txt"});
    ExpectOnly("panText");
    EXPECT_EQ(ArchiveNames(), std::vector<std::string>{"Не определен, A.txt"}) << "nothing left";
    EXPECT_EQ(form.DeviceTitle(), W("Не определен, ")) << "no data file was inspected";
}

TEST_F(ReportArchiveTest, ANotFoundReportIsNotSavedButAnEmptyOneIs) {
    TMainForm& form = ShowCreated({{"gone", ""}, {"empty", "без таблицы\n"}}, "");
    EXPECT_EQ(Memo(), "Отчет не найден");
    DialogService::SetNextAnswer(ModalResult::mrOk);
    Click("btSaveText");
    EXPECT_EQ(Boxes(), std::vector<std::string>{"Ошибка|Ошибка при сохранении отчета (файл не "
                                                "найден).\r\nArchive\\Не определен, gone.txt"});
    ExpectOnly("panText");
    Click("btNextText");
    EXPECT_EQ(Memo(), "Отчет пуст");
    Click("btSaveText");
    ExpectResult("Отчет сохранен.");
    EXPECT_EQ(ArchiveNames(), std::vector<std::string>{"Не определен, empty.txt"});
    EXPECT_EQ(ReadFile(ArchiveFile("Не определен, empty.txt")), Saved("без таблицы\n"))
        << "the report, not the message in its place";
    EXPECT_EQ(form.CurrentWorkState(), WorkState::stHCReports);
}

TEST_F(ReportArchiveTest, SavedReportsListInTheArchiveWithTheirWholeTitles) {
    std::string cyrillic;
    for (int i = 0; i < 130; ++i) {
        cyrillic += "ж";
    }
    ShowCreated({{"Ведомость: май", kReport}, {cyrillic + "1", kReport}, {cyrillic + "2", kReport}},
                "Прибор № 12, 3, ");
    Click("btSaveAllText");
    ExpectResult("Отчеты сохранены");
    EXPECT_EQ(ArchiveNames().size(), 5U) << "two long titles, each with its title file";
    Stop();

    TMainForm& form = OpenArchive();
    EXPECT_EQ(BoxCaptions(form), (std::vector<std::string>{"Прибор № 12, 3, Ведомость: май",
                                                           "Прибор № 12, 3, " + cyrillic + "1",
                                                           "Прибор № 12, 3, " + cyrillic + "2"}));
    ExpectOnly("panText");
    Click("btNextText");
    Click("btNextText");
    EXPECT_NE(Memo().find("corrected"), std::string::npos) << "opens the shortened file";
    DialogService::SetNextAnswer(ModalResult::mrYes);
    Click("btDeleteAllText");
    ExpectResult("Все выбранные отчеты удалены.");
    EXPECT_TRUE(ArchiveNames().empty()) << "title files go with their reports";
}

TEST_F(ReportArchiveTest, DeleteRemovesTheFileTheItemAndTheBoxAndOpensTheNext) {
    for (const char* name : {"a.txt", "b.txt", "c.txt"}) {
        WriteFile(ArchiveFile(name), std::string(kReport) + name + "\n");
    }
    TMainForm& form = OpenArchive();
    Click("btNextText");
    DialogService::SetNextAnswer(ModalResult::mrYes);
    Click("btDeleteText");
    const auto* label = form.DeleteBox()->findChild<QLabel*>("lb1DeleteBox");
    EXPECT_EQ(label->text().toStdString(), "Вы действительно хотите удалить отчет\n\nb ?");
    ExpectResult("Отчет удален.");
    EXPECT_EQ(ArchiveNames(), (std::vector<std::string>{"a.txt", "c.txt"}));
    EXPECT_EQ(form.CreatedReports(),
              (std::vector<std::string>{"Archive\\a.txt", "Archive\\c.txt"}));
    EXPECT_EQ(BoxCaptions(form), (std::vector<std::string>{"a", "c"}));
    EXPECT_EQ(form.ReportList()->currentRow(), 1);
    EXPECT_NE(Memo().find("c.txt"), std::string::npos) << "the next report is shown";

    DialogService::SetNextAnswer(ModalResult::mrYes);
    Click("btDeleteText");
    ExpectResult("Отчет удален.");
    DialogService::SetNextAnswer(ModalResult::mrYes);
    Click("btDeleteText");
    ExpectResult("Отчет удален.");
    EXPECT_TRUE(ArchiveNames().empty());
    EXPECT_EQ(form.ReportList()->count(), 0);
    EXPECT_TRUE(form.ReportCheckBoxes().empty());
    EXPECT_EQ(Memo(), "Нет отчетов для просмотра");
    EXPECT_EQ(Find<QTextEdit>("mmText")->font().pointSize(), 14);
}

TEST_F(ReportArchiveTest, DeleteAllRemovesOnlyTheChosenReports) {
    for (const char* name : {"a.txt", "b.txt", "c.txt"}) {
        WriteFile(ArchiveFile(name), kReport);
    }
    TMainForm& form = Start();
    Click("btMemoMode");
    form.ReportCheckBoxes()[0]->click();
    form.ReportCheckBoxes()[2]->click();
    Click("btStartR");
    DialogService::SetNextAnswer(ModalResult::mrYes);
    Click("btDeleteAllText");
    EXPECT_EQ(form.DeleteBox()->findChild<QLabel*>("lb1DeleteBox")->text().toStdString(),
              "Вы действительно хотите удалить все выбранные отчеты?");
    ExpectResult("Все выбранные отчеты удалены.");
    EXPECT_EQ(ArchiveNames(), std::vector<std::string>{"b.txt"});
    EXPECT_EQ(BoxCaptions(form), std::vector<std::string>{"b"});
    EXPECT_EQ(form.ReportList()->count(), 0);
    EXPECT_TRUE(form.CreatedReports().empty());
    EXPECT_EQ(Memo(), "Нет отчетов для просмотра");
}

TEST_F(ReportArchiveTest, RefusalsOfDeleting) {
    WriteFile(ArchiveFile("a.txt"), kReport);
    TMainForm& form = OpenArchive();
    for (const char* button : {"btDeleteText", "btDeleteAllText"}) {
        for (ModalResult answer : {ModalResult::mrNo, ModalResult::mrCancel, ModalResult::mrNone}) {
            DialogService::SetNextAnswer(answer);
            Click(button);
            ExpectOnly("panText");
            EXPECT_EQ(ArchiveNames(), std::vector<std::string>{"a.txt"});
            EXPECT_EQ(form.ReportList()->count(), 1);
            EXPECT_EQ(form.ReportCheckBoxes().size(), 1U);
        }
    }
    DialogService::TakeShown();
    form.ReportList()->setCurrentRow(-1);
    Click("btDeleteText");
    ExpectResult("Не выбран отчет для удаления.");
    form.SetCreatedReports({}, {});
    Click("btDeleteAllText");
    ExpectResult("Нет отчетов для удаления.");
    fs::remove_all(Folder() / "Archive");
    for (const char* button : {"btDeleteText", "btDeleteAllText"}) {
        Click(button);
        ExpectResult("Не найден каталог Archive.");
    }
    EXPECT_TRUE(DialogService::TakeShown().empty()) << "no question was asked";
}

TEST_F(ReportArchiveTest, AFileThatStaysIsNotReportedDeleted) {
    fs::create_directories(ArchiveFile("d.txt"));
    TMainForm& form = Start();
    form.SetCreatedReports({"Archive\\d.txt"}, {"d"});
    form.ReportList()->setCurrentRow(0);
    form.HidePanel(Panel::SelectMode);
    form.ShowPanel(Panel::Text);
    form.PanReportMode();
    for (const char* button : {"btDeleteText", "btDeleteAllText"}) {
        DialogService::SetNextAnswer(ModalResult::mrYes);
        DialogService::SetNextAnswer(ModalResult::mrOk);
        Click(button);
        EXPECT_EQ(Boxes(),
                  std::vector<std::string>{"Ошибка|Ошибка при удалении отчета.\r\nArchive\\d.txt"});
        ExpectOnly("panText");
        EXPECT_EQ(form.ReportList()->count(), 1);
        EXPECT_TRUE(fs::is_directory(ArchiveFile("d.txt")));
    }
}

TEST_F(ReportArchiveTest, NamesWithAStrayPercentOpenAndDeleteByTheirRealName) {
    WriteFile(ArchiveFile("50%.txt"), kReport);
    WriteFile(ArchiveFile("%41.txt"), kReport);
    TMainForm& form = OpenArchive();
    EXPECT_EQ(BoxCaptions(form), (std::vector<std::string>{"50%", "A"}));
    EXPECT_EQ(form.CreatedReports(),
              (std::vector<std::string>{"Archive\\50%.txt", "Archive\\%41.txt"}));
    EXPECT_NE(Memo().find("Ведомость"), std::string::npos);
    Click("btNextText");
    EXPECT_NE(Memo().find("Ведомость"), std::string::npos);
    DialogService::SetNextAnswer(ModalResult::mrYes);
    Click("btDeleteText");
    ExpectResult("Отчет удален.");
    EXPECT_EQ(ArchiveNames(), std::vector<std::string>{"50%.txt"});
}

}  // namespace
}  // namespace calvix::testing_gui
