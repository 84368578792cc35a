// Report dates through the real main window: period names in the captions, the hourly-date
// window and the several-days calendars.
#include <QCalendarWidget>
#include <QCheckBox>
#include <QListWidget>
#include <QMouseEvent>
#include <QTableView>
#include <QToolButton>

#include "platform/codepage.h"
#include "tests/gui/gui_fixture.h"
#include "tests/support/data_records.h"

namespace calvix::testing_gui {
namespace {

using Bytes = std::string;

using testsupport::Record;

// A data file as a reading leaves it: clock (BCD), settings, device number and address.
Bytes DataFile(unsigned day, unsigned month, unsigned year, unsigned version) {
    Bytes settings(24, '\0');
    settings[14] = static_cast<char>(version);
    settings[17] = 25;
    return Record({0xE6, 0, '6', 0x11, 0},
                  Bytes{0, 0, 0x12, static_cast<char>(day), static_cast<char>(month),
                        static_cast<char>(year)}) +
           Record({0xE6, 0, '=', 0x20, 0}, settings) + Record({0xE6, 0, '9', 0x40, 0}, "4711") +
           Record({0xE6, 0, ':', 0x40, 0},
                  platform::Cp1251ToCp866(platform::Utf8ToCp1251("Садовая, 5")));
}

QDate D(int day, int month, int year) {
    return {year, month, day};
}

class ReportDatesWindowTest : public GuiTest {
  protected:
    // A heat-calculator session with a template list in the device section `section`.
    TMainForm& TakeData(const Bytes& data, const char* type = "TV540",
                        const char* section = "TV540 версия 60") {
        WriteFile(Folder() / "calvix.ini",
                  std::string("[Чтение данных из TV540]\r\nтип=") + type + "\r\n[" + section +
                      "]\r\nсписок шаблонов=Список\r\n"
                      "[Список]\r\na=Теплоучет за отчетный месяц (месяц)\r\n"
                      "b=Тепло & вода: текущий год\r\nc=Сутки\r\n");
        WriteFile(Folder() / "hc" / "dat1hc", data, false);
        TMainForm& form = Start();
        Click("btTV540Mode");
        form.PanelWidget(Panel::HCWork)->hide();
        form.DataTaken("hc\\dat1hc");
        return form;
    }

    QCalendarWidget* Calendar(const char* name) { return Find<QCalendarWidget>(name); }
    QListWidget* Dates() { return Find<QListWidget>("lbHCDateSelected"); }
    std::vector<std::string> DateTexts() {
        std::vector<std::string> texts;
        for (int row = 0; row < Dates()->count(); ++row) {
            texts.push_back(Dates()->item(row)->text().toStdString());
        }
        return texts;
    }

    // Clicks the cell of day `day` of the month the calendar shows; days past the month's end
    // are the next month's days shown after it.
    void ClickDay(QCalendarWidget* calendar, int day) {
        auto* view = calendar->findChild<QTableView*>(QStringLiteral("qt_calendar_calendarview"));
        ASSERT_NE(view, nullptr);
        const QAbstractItemModel* model = view->model();
        const int columns = model->columnCount();
        int first = -1;
        for (int cell = 0; cell < model->rowCount() * columns && first < 0; ++cell) {
            const QModelIndex index = model->index(cell / columns, cell % columns);
            if (model->data(index, Qt::DisplayRole).toString() == QStringLiteral("1")) {
                first = cell;
            }
        }
        ASSERT_GE(first, 0);
        const int cell = first + day - 1;
        const QPoint at = view->visualRect(model->index(cell / columns, cell % columns)).center();
        MouseAt(view->viewport(), at, QEvent::MouseButtonPress);
        MouseAt(view->viewport(), at, QEvent::MouseButtonRelease);
    }
    void MouseAt(QWidget* widget, QPoint at, QEvent::Type type) {
        const Qt::MouseButtons held =
            type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::MouseButtons(Qt::LeftButton);
        QMouseEvent event(type, QPointF(at), QPointF(widget->mapToGlobal(at)), Qt::LeftButton, held,
                          Qt::NoModifier);
        QApplication::sendEvent(widget, &event);
    }
    void KeyUp(int key) {
        QKeyEvent event(QEvent::KeyRelease, key, Qt::NoModifier);
        QApplication::sendEvent(Dates(), &event);
    }
    void ExpectListed(const TMainForm& form, const std::vector<std::string>& expected) {
        EXPECT_EQ(DateTexts(), expected);
        EXPECT_EQ(form.Dates().hourlyDates, expected);
    }
};

TEST_F(ReportDatesWindowTest, DataTakenNamesThePeriodsInTheCaptions) {
    TMainForm& form = TakeData(DataFile(0x10, 0x01, 0x07, 60));
    ExpectOnly("panReport");
    const auto& boxes = form.ReportCheckBoxes();
    ASSERT_EQ(boxes.size(), 3u);
    EXPECT_EQ(boxes[0]->text(), Q("Теплоучет за отчетный месяц (декабрь 2006 г)"));
    EXPECT_EQ(boxes[0]->property("caption1251").toByteArray().toStdString(),
              platform::Utf8ToCp1251("Теплоучет за отчетный месяц (декабрь 2006 г)"));
    EXPECT_EQ(boxes[1]->text(), Q("Тепло && вода: 2007 г"));
    EXPECT_EQ(boxes[1]->property("caption1251").toByteArray().toStdString(),
              platform::Utf8ToCp1251("Тепло & вода: 2007 г"));
    EXPECT_EQ(boxes[2]->text(), Q("Сутки"));
    EXPECT_EQ(Find<QLabel>("lbInfoReport")->text(), Q("Адрес: Садовая, 5"));
    EXPECT_EQ(form.DeviceTitle(), platform::Utf8ToCp1251("Прибор № 4711, Садовая, 5, "));
    EXPECT_EQ(form.Dates().facts.deviceVersion, 60);
    EXPECT_EQ(form.Dates().facts.reportDay, 25);
    EXPECT_FALSE(form.Dates().facts.deepArchiveMode);
    EXPECT_EQ(Calendar("MonthCalendar2")->selectedDate(), D(10, 1, 2007));
}

TEST_F(ReportDatesWindowTest, WithoutADataFileTheCaptionsKeepTheirLabels) {
    TMainForm& form = TakeData("", "TV540", "TV540");
    std::filesystem::remove(Folder() / "hc" / "dat1hc");
    form.DataTaken("hc\\dat1hc");
    EXPECT_EQ(form.Dates().facts.deviceVersion, 0);
    const auto& boxes = form.ReportCheckBoxes();
    ASSERT_EQ(boxes.size(), 3u);
    EXPECT_EQ(boxes[0]->text(), Q("Теплоучет за отчетный месяц (месяц)"));
    EXPECT_EQ(boxes[1]->text(), Q("Тепло && вода: текущий год"));
    const QDate today = QDate::currentDate();
    EXPECT_EQ(Calendar("MonthCalendar2")->selectedDate(), today);
    EXPECT_EQ(Calendar("MonthCalendar4")->selectedDate(), today);
    const QDate before = today.addMonths(-1);
    EXPECT_EQ(Calendar("MonthCalendar3")->minimumDate(), D(1, before.month(), before.year()));
    EXPECT_EQ(Calendar("MonthCalendar4")->maximumDate(),
              D(today.daysInMonth(), today.month(), today.year()));
    EXPECT_EQ(form.DeviceTitle(), "");
}

TEST_F(ReportDatesWindowTest, SeveralDaysCalendarsTakeTheLimitsOfEachFile) {
    TMainForm& form = TakeData(DataFile(0x30, 0x06, 0x06, 0x35), "TV540W", "TV540W версия 53");
    EXPECT_TRUE(form.Dates().facts.deepArchiveMode);
    Click("btSeveralDaysR");
    ExpectOnly("panHCAnyDay");
    QCalendarWidget* begin = Calendar("MonthCalendar3");
    QCalendarWidget* end = Calendar("MonthCalendar4");
    for (QCalendarWidget* calendar : {begin, end}) {
        EXPECT_EQ(calendar->minimumDate(), D(2, 1, 2006));
        EXPECT_EQ(calendar->maximumDate(), D(30, 6, 2006));
    }
    EXPECT_EQ(begin->selectedDate(), D(2, 1, 2006));
    EXPECT_EQ(end->selectedDate(), D(30, 6, 2006));
    begin->setSelectedDate(D(15, 3, 2006));
    EXPECT_EQ(form.Dates().beginDate.month, 3);
    EXPECT_EQ(form.Dates().beginDate.day, 15);
    EXPECT_EQ(form.Dates().endDate.day, 30);

    // A later file of a device without the deep archive: the old limits are gone.
    Click("btHCAnyDayBack");
    WriteFile(Folder() / "hc" / "dat1hc", DataFile(0x10, 0x01, 0x07, 0x35), false);
    form.Config()->Connection().deviceType = "TV540";
    form.DataTaken("hc\\dat1hc");
    EXPECT_FALSE(form.Dates().facts.deepArchiveMode);
    for (QCalendarWidget* calendar : {begin, end}) {
        EXPECT_EQ(calendar->minimumDate(), D(1, 12, 2006));
        EXPECT_EQ(calendar->maximumDate(), D(31, 1, 2007));
    }
    EXPECT_EQ(begin->selectedDate(), D(1, 12, 2006));
    EXPECT_EQ(end->selectedDate(), D(10, 1, 2007));
    EXPECT_EQ(form.Dates().limits.lowest.month, 12);
}

TEST_F(ReportDatesWindowTest, ClicksAddDatesOfTheShownMonthOnce) {
    TMainForm& form = TakeData(DataFile(0x10, 0x01, 0x07, 60));
    Click("btCalendarR");
    ExpectOnly("panHCDateSelect");
    QCalendarWidget* calendar = Calendar("MonthCalendar2");
    ClickDay(calendar, 15);
    ClickDay(calendar, 15);
    ExpectListed(form, {"15.01.2007"});
    ClickDay(calendar, 20);
    ClickDay(calendar, 15);
    ExpectListed(form, {"20.01.2007", "15.01.2007"});

    calendar->findChild<QToolButton*>(QStringLiteral("qt_calendar_nextmonth"))->click();
    EXPECT_EQ(calendar->monthShown(), 2);
    ExpectListed(form, {"20.01.2007", "15.01.2007"});
    ClickDay(calendar, 3);
    ExpectListed(form, {"20.01.2007", "15.01.2007", "03.02.2007"});

    // A day of the next month shown after February's: the calendar leafs, nothing is added.
    ClickDay(calendar, 28 + 2);
    EXPECT_EQ(calendar->monthShown(), 3);
    ExpectListed(form, {"20.01.2007", "15.01.2007", "03.02.2007"});
    ClickDay(calendar, 2);
    ExpectListed(form, {"20.01.2007", "15.01.2007", "03.02.2007", "02.03.2007"});

    Click("btHCDateSet");
    EXPECT_EQ(calendar->selectedDate(), D(10, 1, 2007));
    EXPECT_EQ(calendar->monthShown(), 1);
    ClickDay(calendar, 10);
    ExpectListed(form, {"20.01.2007", "15.01.2007", "03.02.2007", "02.03.2007", "10.01.2007"});

    Click("btHCDateBack");
    Click("btCalendarR");
    ExpectListed(form, {});
}

TEST_F(ReportDatesWindowTest, DoubleClickAndDeleteRemoveTheSelectedDates) {
    TMainForm& form = TakeData(DataFile(0x10, 0x01, 0x07, 60));
    Click("btCalendarR");
    QCalendarWidget* calendar = Calendar("MonthCalendar2");
    for (int day : {1, 2, 3, 4, 5}) {
        ClickDay(calendar, day);
    }
    QListWidget* list = Dates();
    list->item(1)->setSelected(true);
    list->item(2)->setSelected(true);
    const QPoint at = list->visualItemRect(list->item(2)).center();
    MouseAt(list->viewport(), at, QEvent::MouseButtonDblClick);
    ExpectListed(form, {"01.01.2007", "04.01.2007", "05.01.2007"});

    // Any key release selects the last entry; releasing Delete removes the selection first.
    form.activateWindow();
    QApplication::setActiveWindow(&form);
    ASSERT_EQ(QGuiApplication::applicationState(), Qt::ApplicationActive);
    list->clearSelection();
    KeyUp(Qt::Key_A);
    ASSERT_TRUE(list->item(2)->isSelected());
    EXPECT_FALSE(list->item(0)->isSelected());
    list->item(0)->setSelected(true);
    KeyUp(Qt::Key_Delete);
    ExpectListed(form, {"04.01.2007"});
    EXPECT_TRUE(list->item(0)->isSelected());
    KeyUp(Qt::Key_Delete);
    ExpectListed(form, {});
    KeyUp(Qt::Key_Delete);
    ExpectListed(form, {});
}

}  // namespace
}  // namespace calvix::testing_gui
