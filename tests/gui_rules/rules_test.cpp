// The Qt-free rules of the main window: state table, layout, help texts, focus marks.
#include <gtest/gtest.h>

#include <set>

#include "gui/rules/checkbox_focus.h"
#include "gui/rules/help_texts.h"
#include "gui/rules/layout_rules.h"
#include "gui/rules/state_table.h"
#include "platform/codepage.h"

namespace calvix {
namespace {

using enum WorkState;

struct Expected {
    NavButton button;
    WorkState state;
    bool moves;
    Panel to;
    WorkState newState;
    unsigned effects;
};

TEST(StateTableTest, EveryButtonInEveryState) {
    const Expected cases[] = {
        {NavButton::btReturnSA, stUpdReports, true, Panel::SelectMode, stUpdReports, kCaptionBack},
        {NavButton::btReturnR, stArchive, true, Panel::SelectMode, stArchive, kCaptionBack},
        {NavButton::btReturnR, stUpdReports, true, Panel::SelectArchiv, stUpdReports,
         kSaveTemplateMarks | kFocusList},
        {NavButton::btReturnR, stHCReports, true, Panel::HCWork, stHCReports, kSaveTemplateMarks},
        {NavButton::btReturnR, stUpdHourly, false, Panel::None, stUpdHourly, 0},
        {NavButton::btCalendarR, stUpdReports, true, Panel::HCDateSelect, stUpdHourly,
         kClearDateList},
        {NavButton::btCalendarR, stHCReports, true, Panel::HCDateSelect, stHCHourly,
         kClearDateList},
        {NavButton::btCalendarR, stArchive, false, Panel::None, stArchive, 0},
        {NavButton::btCalendarR, stHCHourly, false, Panel::None, stHCHourly, 0},
        {NavButton::btSeveralDaysR, stUpdReports, true, Panel::HCAnyDay, stUpdSeveralDays, 0},
        {NavButton::btSeveralDaysR, stHCReports, true, Panel::HCAnyDay, stHCSeveralDays, 0},
        {NavButton::btSeveralDaysR, stArchive, false, Panel::None, stArchive, 0},
        {NavButton::btReturnText, stArchive, true, Panel::Report, stArchive, kStartFolder},
        {NavButton::btReturnText, stUpdReports, true, Panel::Report, stUpdReports, kStartFolder},
        {NavButton::btReturnText, stHCReports, true, Panel::Report, stHCReports, kStartFolder},
        {NavButton::btReturnText, stUpdHourly, true, Panel::HCDateSelect, stUpdHourly, 0},
        {NavButton::btReturnText, stHCHourly, true, Panel::HCDateSelect, stHCHourly, 0},
        {NavButton::btReturnText, stUpdSeveralDays, true, Panel::HCAnyDay, stUpdSeveralDays, 0},
        {NavButton::btReturnText, stHCSeveralDays, true, Panel::HCAnyDay, stHCSeveralDays, 0},
        {NavButton::btReturnVR, stUpdSeveralDays, true, Panel::Text, stUpdSeveralDays, 0},
        {NavButton::btHCDateBack, stUpdHourly, true, Panel::Report, stUpdReports, 0},
        {NavButton::btHCDateBack, stHCHourly, true, Panel::Report, stHCReports, 0},
        {NavButton::btHCDateBack, stHCReports, false, Panel::None, stHCReports, 0},
        {NavButton::btHCAnyDayBack, stUpdSeveralDays, true, Panel::Report, stUpdReports, 0},
        {NavButton::btHCAnyDayBack, stHCSeveralDays, true, Panel::Report, stHCReports, 0},
        {NavButton::btHCAnyDayBack, stUpdReports, false, Panel::None, stUpdReports, 0},
        {NavButton::btHCBack, stHCReports, true, Panel::SelectMode, stHCReports, 0},
    };
    for (const Expected& c : cases) {
        SCOPED_TRACE(testing::Message() << "button " << static_cast<int>(c.button) << " state "
                                        << static_cast<int>(c.state));
        const auto row = FindTransition(c.button, c.state);
        ASSERT_EQ(row.has_value(), c.moves);
        if (!row) {
            continue;
        }
        EXPECT_EQ(row->to, c.to);
        EXPECT_EQ(row->toState.value_or(c.state), c.newState);
        EXPECT_EQ(row->effects, c.effects);
    }
}

TEST(StateTableTest, RowsNeverOverlapAndNameRealPanels) {
    std::set<std::pair<int, int>> seen;
    for (const Transition& row : StateTable()) {
        EXPECT_FALSE(PanelName(row.from).empty());
        EXPECT_FALSE(PanelName(row.to).empty());
        for (int state = 0; state <= 6; ++state) {
            if (!row.fromState || *row.fromState == static_cast<WorkState>(state)) {
                EXPECT_TRUE(seen.insert({static_cast<int>(row.button), state}).second)
                    << "two rows for button " << static_cast<int>(row.button) << " in " << state;
            }
        }
    }
}

TEST(StateTableTest, ListTopAndStepping) {
    EXPECT_EQ(ViewReportTopIndex(-1), 0);
    EXPECT_EQ(ViewReportTopIndex(5), 0);
    EXPECT_EQ(ViewReportTopIndex(6), 0);
    EXPECT_EQ(ViewReportTopIndex(10), 4);
    EXPECT_EQ(NextReportIndex(0, 3), 1);
    EXPECT_EQ(NextReportIndex(2, 3), std::nullopt) << "the last report";
    EXPECT_EQ(NextReportIndex(-1, 3), 0);
    EXPECT_EQ(NextReportIndex(-1, 0), std::nullopt);
    EXPECT_EQ(PreviousReportIndex(0), std::nullopt) << "the first report";
    EXPECT_EQ(PreviousReportIndex(2), 1);
}

TEST(LayoutTest, MainWindowFollowsTheMonitor) {
    EXPECT_EQ(MainWindowGeometry(800, 600), (Box{19, 27, 761, 545}));
    EXPECT_EQ(MainWindowGeometry(1024, 768), (Box{24, 48, 975, 672}));
    EXPECT_EQ(MainWindowGeometry(640, 480).height, 436);
}

TEST(LayoutTest, PanelsAreCentred) {
    EXPECT_EQ(PanelCenter(761, 520, 420, 330), (Box{170, 95, 420, 330}));
    EXPECT_EQ(PanelCenter(400, 300, 420, 330), (Box{-10, -15, 420, 330}));
}

TEST(LayoutTest, TextWindowRows) {
    TextWindowInput in;
    in.mainWidth = 760;
    in.mainHeight = 520;
    in.titleHeight = 32;
    in.buttonHeight = 28;
    in.nextWidth = in.selectWidth = in.saveWidth = in.returnWidth = 120;
    in.saveAllWidth = 140;
    const TextWindowLayout out = PanTextCenter(in);
    EXPECT_EQ(out.panel, (Box{5, 5, 750, 510}));
    EXPECT_EQ(out.firstRowTop, 47);
    EXPECT_EQ(out.secondRowTop, 90);
    // gap = (750 - 480) / 4 = 67
    EXPECT_EQ(out.nextLeft, 33);
    EXPECT_EQ(out.selectLeft, 33 + 120 + 67);
    EXPECT_EQ(out.saveLeft, 220 + 120 + 67);
    EXPECT_EQ(out.returnLeft, 407 + 140 + 67) << "the return column clears Save all";
    EXPECT_EQ(out.memo, (Box{10, 133, 730, 510 - 133 - 10}));
}

TEST(LayoutTest, DeleteBoxGrowsWithItsText) {
    const DeleteBoxLayout narrow = LayoutDeleteBox(200, 40, 100, 100, 28);
    EXPECT_EQ(narrow.clientWidth, 300);
    EXPECT_EQ(narrow.label, (Box{50, 20, 200, 40}));
    EXPECT_EQ(narrow.yes, (Box{33, 80, 100, 28}));
    EXPECT_EQ(narrow.no, (Box{166, 80, 100, 28}));
    EXPECT_EQ(narrow.clientHeight, 128);
    const DeleteBoxLayout wide = LayoutDeleteBox(500, 60, 100, 100, 28);
    EXPECT_EQ(wide.clientWidth, 540);
    EXPECT_EQ(wide.label.left, 20);
    EXPECT_EQ(wide.yes.left, 113);
    EXPECT_EQ(wide.no.left, 2 * 113 + 100);
}

TEST(LayoutTest, HelpBoxGrowsWithItsText) {
    const HelpBoxLayout narrow = LayoutHelpBox(260, 30, 150, 28);
    EXPECT_EQ(narrow.clientWidth, 300);
    EXPECT_EQ(narrow.label, (Box{20, 20, 260, 30}));
    EXPECT_EQ(narrow.button, (Box{75, 70, 150, 28}));
    EXPECT_EQ(narrow.clientHeight, 118);
    const HelpBoxLayout wide = LayoutHelpBox(261, 200, 150, 28);
    EXPECT_EQ(wide.clientWidth, 301);
    EXPECT_EQ(wide.label.left, 20);
    EXPECT_EQ(wide.button.left, 75);
}

TEST(LayoutTest, ReportPanelByState) {
    const ReportPanelLayout archive = LayoutReportPanel(stArchive, 32, 20, 20, 326);
    EXPECT_FALSE(archive.infoVisible);
    EXPECT_EQ(archive.listTitleTop, 42);
    EXPECT_EQ(archive.scrollTop, 77);
    EXPECT_EQ(archive.scrollHeight, 326 - 77 - 15);
    const ReportPanelLayout device = LayoutReportPanel(stHCReports, 32, 20, 20, 326);
    EXPECT_TRUE(device.infoVisible);
    EXPECT_EQ(device.infoTop, 42);
    EXPECT_EQ(device.listTitleTop, 72);
    EXPECT_EQ(device.scrollTop, 107);
}

TEST(HelpTextTest, FourteenTextsInTheirOrder) {
    const auto table = HelpTable();
    ASSERT_EQ(table.size(), 14u);
    const Panel order[] = {Panel::Report,       Panel::Report,       Panel::HCAnyDay,
                           Panel::SelectMode,   Panel::HCDateSelect, Panel::SelectArchiv,
                           Panel::ViewReport,   Panel::Text,         Panel::Text,
                           Panel::HCAutoSearch, Panel::HCWork,       Panel::HCConfig,
                           Panel::HCCurrent,    Panel::HCQuestion};
    for (std::size_t i = 0; i < table.size(); ++i) {
        EXPECT_EQ(table[i].panel, order[i]) << i;
    }
    EXPECT_TRUE(platform::Cp1251ToUtf8(table[3].text)
                    .starts_with("Для переключения программы в режим работы с УПД\n"));
    EXPECT_TRUE(platform::Cp1251ToUtf8(table[13].text).ends_with("\"Чтение суточных архивов\"."));
}

TEST(HelpTextTest, LaterVisiblePanelWinsAndStateChoosesTheVariant) {
    auto only = [](std::set<Panel> visible) {
        return [visible](Panel panel) { return visible.count(panel) > 0; };
    };
    const auto table = HelpTable();
    EXPECT_EQ(HelpTextFor(only({Panel::SelectMode}), stArchive), table[3].text);
    EXPECT_EQ(HelpTextFor(only({Panel::Text}), stArchive), table[7].text);
    EXPECT_EQ(HelpTextFor(only({Panel::Text}), stHCReports), table[8].text);
    EXPECT_EQ(HelpTextFor(only({Panel::Report}), stArchive), table[0].text);
    EXPECT_EQ(HelpTextFor(only({Panel::Report}), stUpdReports), table[1].text);
    EXPECT_EQ(HelpTextFor(only({Panel::SelectMode, Panel::HCQuestion}), stArchive), table[13].text);
    EXPECT_EQ(HelpTextFor(only({Panel::HCError}), stArchive), "");
    EXPECT_EQ(HelpTextFor(only({Panel::Wait, Panel::HCWait, Panel::HCReportWait}), stArchive), "");
}

TEST(CheckBoxFocusTest, WrapsOnlyWhenScrolled) {
    CheckBoxFocusWrap wrap;
    wrap.Leave(BoxRole::Last);
    EXPECT_TRUE(wrap.LastLeft());
    EXPECT_EQ(wrap.Enter(BoxRole::First, false, false), CheckBoxFocusWrap::Move::Stay);
    EXPECT_EQ(wrap.Enter(BoxRole::First, true, false), CheckBoxFocusWrap::Move::ToLast);
    wrap.Leave(BoxRole::First);  // caused by the move: marks stay
    EXPECT_TRUE(wrap.LastLeft());
    EXPECT_FALSE(wrap.FirstLeft());
    wrap.Leave(BoxRole::First);
    EXPECT_TRUE(wrap.FirstLeft());
    EXPECT_FALSE(wrap.LastLeft());
    EXPECT_EQ(wrap.Enter(BoxRole::Last, true, false), CheckBoxFocusWrap::Move::Stay);
    EXPECT_EQ(wrap.Enter(BoxRole::Last, false, true), CheckBoxFocusWrap::Move::ToFirst);
    wrap.Leave(BoxRole::Last);
    EXPECT_TRUE(wrap.FirstLeft());
    wrap.Leave(BoxRole::Middle);
    EXPECT_FALSE(wrap.FirstLeft());
    EXPECT_FALSE(wrap.LastLeft());
    EXPECT_EQ(wrap.Enter(BoxRole::Middle, true, true), CheckBoxFocusWrap::Move::Stay);
}

}  // namespace
}  // namespace calvix
