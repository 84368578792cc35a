// The Qt-free rules of the main window: state table, layout, help texts, focus marks.
#include <gtest/gtest.h>

#include <set>

#include "gui/checkbox_focus.h"
#include "gui/help_texts.h"
#include "gui/layout_rules.h"
#include "gui/state_table.h"
#include "platform/codepage.h"

namespace calvix {
namespace {

struct Expected {
    NavButton button;
    int state;
    bool moves;
    Panel to;
    int newState;
    unsigned effects;
};

TEST(StateTableTest, EveryButtonInEveryState) {
    const Expected cases[] = {
        {NavButton::btReturnSA, 1, true, Panel::SelectMode, 1, kCaptionBack},
        {NavButton::btReturnR, 0, true, Panel::SelectMode, 0, kCaptionBack},
        {NavButton::btReturnR, 1, true, Panel::SelectArchiv, 1, kSaveTemplateMarks | kFocusList},
        {NavButton::btReturnR, 4, true, Panel::HCWork, 4, kSaveTemplateMarks},
        {NavButton::btReturnR, 2, false, Panel::None, 2, 0},
        {NavButton::btCalendarR, 1, true, Panel::HCDateSelect, 2, kClearDateList},
        {NavButton::btCalendarR, 4, true, Panel::HCDateSelect, 5, kClearDateList},
        {NavButton::btCalendarR, 0, false, Panel::None, 0, 0},
        {NavButton::btCalendarR, 5, false, Panel::None, 5, 0},
        {NavButton::btSeveralDaysR, 1, true, Panel::HCAnyDay, 3, 0},
        {NavButton::btSeveralDaysR, 4, true, Panel::HCAnyDay, 6, 0},
        {NavButton::btSeveralDaysR, 0, false, Panel::None, 0, 0},
        {NavButton::btReturnText, 0, true, Panel::Report, 0, kStartFolder},
        {NavButton::btReturnText, 1, true, Panel::Report, 1, kStartFolder},
        {NavButton::btReturnText, 4, true, Panel::Report, 4, kStartFolder},
        {NavButton::btReturnText, 2, true, Panel::HCDateSelect, 2, 0},
        {NavButton::btReturnText, 5, true, Panel::HCDateSelect, 5, 0},
        {NavButton::btReturnText, 3, true, Panel::HCAnyDay, 3, 0},
        {NavButton::btReturnText, 6, true, Panel::HCAnyDay, 6, 0},
        {NavButton::btReturnVR, 3, true, Panel::Text, 3, 0},
        {NavButton::btHCDateBack, 2, true, Panel::Report, 1, 0},
        {NavButton::btHCDateBack, 5, true, Panel::Report, 4, 0},
        {NavButton::btHCDateBack, 4, false, Panel::None, 4, 0},
        {NavButton::btHCAnyDayBack, 3, true, Panel::Report, 1, 0},
        {NavButton::btHCAnyDayBack, 6, true, Panel::Report, 4, 0},
        {NavButton::btHCAnyDayBack, 1, false, Panel::None, 1, 0},
        {NavButton::btHCBack, 4, true, Panel::SelectMode, 4, 0},
    };
    for (const Expected& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << "button " << static_cast<int>(c.button) << " state " << c.state);
        const auto row = FindTransition(c.button, c.state);
        ASSERT_EQ(row.has_value(), c.moves);
        if (!row) {
            continue;
        }
        EXPECT_EQ(row->to, c.to);
        EXPECT_EQ(row->toState == kStateUnchanged ? c.state : row->toState, c.newState);
        EXPECT_EQ(row->effects, c.effects);
    }
}

TEST(StateTableTest, RowsNeverOverlapAndNameRealPanels) {
    std::set<std::pair<int, int>> seen;
    for (const Transition& row : StateTable()) {
        EXPECT_FALSE(PanelName(row.from).empty());
        EXPECT_FALSE(PanelName(row.to).empty());
        for (int state = 0; state <= 6; ++state) {
            if (row.fromState == kAnyState || row.fromState == state) {
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
    const ReportPanelLayout archive = LayoutReportPanel(0, 32, 20, 20, 326);
    EXPECT_FALSE(archive.infoVisible);
    EXPECT_EQ(archive.listTitleTop, 42);
    EXPECT_EQ(archive.scrollTop, 77);
    EXPECT_EQ(archive.scrollHeight, 326 - 77 - 15);
    const ReportPanelLayout device = LayoutReportPanel(4, 32, 20, 20, 326);
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
    EXPECT_EQ(HelpTextFor(only({Panel::SelectMode}), 0), table[3].text);
    EXPECT_EQ(HelpTextFor(only({Panel::Text}), 0), table[7].text);
    EXPECT_EQ(HelpTextFor(only({Panel::Text}), 4), table[8].text);
    EXPECT_EQ(HelpTextFor(only({Panel::Report}), 0), table[0].text);
    EXPECT_EQ(HelpTextFor(only({Panel::Report}), 1), table[1].text);
    EXPECT_EQ(HelpTextFor(only({Panel::SelectMode, Panel::HCQuestion}), 0), table[13].text);
    EXPECT_EQ(HelpTextFor(only({Panel::HCError}), 0), "");
    EXPECT_EQ(HelpTextFor(only({Panel::Wait, Panel::HCWait, Panel::HCReportWait}), 0), "");
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
