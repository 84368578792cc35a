#include <QLabel>
#include <QPushButton>
#include <QTimer>

#include "gui/calvix_app.h"
#include "gui/dialogs.h"
#include "gui/rules/texts.h"
#include "tests/gui/gui_fixture.h"

namespace calvix::testing_gui {
namespace {

template <class T = QWidget>
T* Child(QWidget* dialog, const char* name) {
    T* widget = dialog->findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(widget, nullptr) << name;
    return widget;
}

// Runs the dialog for real and presses one of its buttons from the event loop.
ModalResult PressInModal(CalvixDialog& dialog, const char* button) {
    QTimer::singleShot(0, &dialog,
                       [&dialog, button] { Child<QPushButton>(&dialog, button)->click(); });
    return static_cast<ModalResult>(dialog.exec());
}

TEST(DialogsTest, StartWindowResults) {
    TAboutBox box;
    EXPECT_EQ(box.windowTitle(), Q("Стартовое окно"));
    EXPECT_EQ(Child<QLabel>(&box, "Label1")->text(), Q("Программа \"Ведар\""));
    EXPECT_EQ(Child<QLabel>(&box, "Label2")->text(), Q("Версия 1.2.24"));
    EXPECT_EQ(Child<QPushButton>(&box, "BitBtn1")->text(), Q("Старт"));
    EXPECT_TRUE(Child(&box, "btAboutClose")->isHidden());
    EXPECT_EQ(PressInModal(box, "BitBtn1"), ModalResult::mrOk);
    EXPECT_EQ(PressInModal(box, "BitBtn2"), ModalResult::mrCancel);
    QTimer::singleShot(0, &box, [&box] { box.reject(); });  // Escape
    EXPECT_EQ(static_cast<ModalResult>(box.exec()), ModalResult::mrCancel);

    box.SetAboutMode();
    EXPECT_EQ(box.EscapeResult(), ModalResult::mrNone) << "Escape does nothing in the about form";
    EXPECT_EQ(PressInModal(box, "btAboutClose"), ModalResult::mrYes);
    DialogService::TakeShown();
}

TEST(DialogsTest, ExitAndDeleteQuestions) {
    TCloseBox close;
    EXPECT_EQ(close.windowTitle(), Q("Выход из программы"));
    EXPECT_EQ(Child<QLabel>(&close, "Label1")->text(),
              Q("Вы хотите закончить работу с программой ?"));
    EXPECT_EQ(PressInModal(close, "BitBtn1"), ModalResult::mrYes);
    EXPECT_EQ(PressInModal(close, "BitBtn2"), ModalResult::mrNo);
    EXPECT_EQ(close.EscapeResult(), ModalResult::mrNo);

    TDeleteBox remove;
    EXPECT_EQ(remove.windowTitle(), Q("Внимание"));
    EXPECT_EQ(Child<QLabel>(&remove, "lb1DeleteBox")->text(),
              Q("Вы действительно хотите удалить отчет?"));
    EXPECT_EQ(PressInModal(remove, "btYesDBox"), ModalResult::mrYes);
    EXPECT_EQ(PressInModal(remove, "btNoDBox"), ModalResult::mrNo);
    EXPECT_EQ(remove.EscapeResult(), ModalResult::mrNone);
    DialogService::TakeShown();
}

TEST(DialogsTest, DeleteBoxLaysItselfOutAroundItsText) {
    TDeleteBox box;
    auto* label = Child<QLabel>(&box, "lb1DeleteBox");
    auto* yes = Child(&box, "btYesDBox");
    auto* no = Child(&box, "btNoDBox");

    box.SetText(platform::Utf8ToCp1251("Удалить?"));
    DialogService::SetNextAnswer(ModalResult::mrNo);
    EXPECT_EQ(DialogService::ShowModal(&box), ModalResult::mrNo);
    EXPECT_EQ(box.width(), 300);
    EXPECT_EQ(label->x(), (300 - label->width()) / 2);
    EXPECT_EQ(yes->y(), label->geometry().bottom() + 1 + 20);
    const int gap = (300 - yes->width() - no->width()) / 3;
    EXPECT_EQ(yes->x(), gap);
    EXPECT_EQ(no->x(), 2 * gap + yes->width());
    EXPECT_EQ(box.height(), yes->geometry().bottom() + 1 + 20);

    box.SetText(platform::Utf8ToCp1251(
        "Вы действительно хотите удалить отчет\r\n\r\nПрибор № 1234567, ул. Первомайская, "
        "Ведомость учета тепловой энергии за февраль 2006 г ?"));
    DialogService::SetNextAnswer(ModalResult::mrNo);
    DialogService::ShowModal(&box);
    EXPECT_GT(label->width(), 260);
    EXPECT_EQ(label->pos(), QPoint(20, 20));
    EXPECT_EQ(box.width(), label->width() + 40);
    EXPECT_EQ(label->text().count(QLatin1Char('\n')), 2) << "CR LF breaks the line";
    DialogService::TakeShown();
}

TEST(DialogsTest, HelpBoxLaysItselfOutAroundItsText) {
    THelpBox box;
    EXPECT_EQ(box.windowTitle(), Q("Помощь"));
    auto* label = Child<QLabel>(&box, "lbHelp");
    auto* button = Child<QPushButton>(&box, "btHelp");
    EXPECT_EQ(button->text(), Q("Продолжить работу"));
    box.SetText(platform::Utf8ToCp1251("Коротко."));
    DialogService::SetNextAnswer(ModalResult::mrYes);
    DialogService::ShowModal(&box);
    EXPECT_EQ(box.width(), 300);
    EXPECT_EQ(label->geometry(),
              QRect((300 - label->width()) / 2, 20, label->width(), label->height()));
    EXPECT_EQ(button->x(), (300 - button->width()) / 2);
    EXPECT_EQ(box.height(), button->geometry().bottom() + 1 + 20);
    EXPECT_EQ(box.EscapeResult(), ModalResult::mrYes);
    DialogService::TakeShown();
}

TEST(DialogsTest, PrinterChoiceStartsWithItsDefaults) {
    TSelectPrinterBox box;
    EXPECT_EQ(box.windowTitle(), Q("Выбор принтера"));
    DialogService::SetNextAnswer(ModalResult::mrOk);
    EXPECT_EQ(DialogService::ShowModal(&box), ModalResult::mrOk);
    EXPECT_FALSE(Child<QLabel>(&box, "lb1SP")->text().isEmpty());
    EXPECT_NE(Child(&box, "listAllPrinters"), nullptr);
    EXPECT_NE(Child(&box, "cbFontSize"), nullptr);
    EXPECT_NE(Child(&box, "cbListOrient"), nullptr);
    DialogService::TakeShown();
}

TEST(DialogsTest, MessageBoxesTakeTheNextAnswerAndAreRecorded) {
    DialogService::TakeShown();
    DialogService::SetNextAnswer(ModalResult::mrOk);
    DialogService::SetNextAnswer(ModalResult::mrCancel);
    EXPECT_EQ(DialogService::ShowMessage(nullptr, "one", text::kError, MessageIcon::Error),
              ModalResult::mrOk);
    EXPECT_EQ(DialogService::ShowMessage(nullptr, "two", text::kError, MessageIcon::Error),
              ModalResult::mrCancel);
    EXPECT_FALSE(DialogService::HasNextAnswer());
    const auto shown = DialogService::TakeShown();
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[1].text, "two");
    EXPECT_EQ(shown[1].caption, text::kError);
}

using ProgramTest = GuiTest;

TEST_F(ProgramTest, ExitInTheStartWindowTouchesNothing) {
    WriteFile(Folder() / "txt" / "keep.txt", "x");
    DialogService::SetNextAnswer(ModalResult::mrCancel);
    EXPECT_EQ(RunCalvix(*qApp), 0);
    EXPECT_TRUE(std::filesystem::exists(Folder() / "txt" / "keep.txt"));
    EXPECT_FALSE(std::filesystem::exists(Folder() / "calvix.ini"));
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        EXPECT_NE(widget->objectName(), Q("TMainForm"));
    }
}

TEST_F(ProgramTest, StartWorkAndExit) {
    WriteFile(Folder() / "txt" / "old.txt", "x");
    DialogService::SetNextAnswer(ModalResult::mrOk);   // "Старт"
    DialogService::SetNextAnswer(ModalResult::mrYes);  // "Да" to the exit question
    QTimer::singleShot(0, qApp, [] {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            if (widget->objectName() == Q("TMainForm") && widget->isVisible()) {
                widget->findChild<QPushButton*>(QStringLiteral("btExitSM"))->click();
            }
        }
    });
    EXPECT_EQ(RunCalvix(*qApp), 0);
    EXPECT_FALSE(std::filesystem::exists(Folder() / "txt" / "old.txt"));
    EXPECT_TRUE(std::filesystem::exists(Folder() / "calvix.ini")) << "written at the end";
    const auto shown = DialogService::TakeShown();
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[0].what, "TAboutBox");
    EXPECT_EQ(shown[1].what, "TCloseBox");
}

}  // namespace
}  // namespace calvix::testing_gui
