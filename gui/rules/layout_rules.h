// Geometry rules of the main window and the dialogs that lay themselves out, in pixels.
#pragma once

#include "gui/rules/work_state.h"

namespace calvix {

struct Box {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
    int Right() const { return left + width; }
    int Bottom() const { return top + height; }
    bool operator==(const Box&) const = default;
};

// Main window from the monitor: 20/21 of its width, 10/11 of its height on monitors at most
// 800 pixels wide and 7/8 on larger ones, centred.
Box MainWindowGeometry(int screenWidth, int screenHeight);

// Top-left corner that centres a panel of the given size in panMain.
Box PanelCenter(int containerWidth, int containerHeight, int panelWidth, int panelHeight);

// A list panel (report choice, report list) grows with panMain: the window less a margin,
// at most kListPanelMaxWidth wide, never smaller than its designed size.
inline constexpr int kListPanelMaxWidth = 960;
Box GrowListPanel(int mainWidth, int mainHeight, int designWidth, int designHeight);

// The left edge of column `column` of `columns` equal columns of `width` spread from `left` to
// `right`, the first at `left` and the last ending at `right`.
int ColumnLeft(int left, int right, int width, int columns, int column);

// The text window: the panel, its two rows of buttons and the memo.
struct TextWindowInput {
    int mainWidth = 0;  // panMain
    int mainHeight = 0;
    int titleHeight = 0;  // lbTopText
    int buttonHeight = 0;
    int nextWidth = 0;     // btNextText
    int selectWidth = 0;   // btSelectReportText
    int saveWidth = 0;     // btSaveText
    int saveAllWidth = 0;  // btSaveAllText
    int returnWidth = 0;   // btReturnText
};
struct TextWindowLayout {
    Box panel;  // panText inside panMain
    int firstRowTop = 0;
    int secondRowTop = 0;
    int nextLeft = 0;    // and btPrevText below it
    int selectLeft = 0;  // and btPrintText
    int saveLeft = 0;    // and btSaveAllText, btDeleteText, btDeleteAllText
    int returnLeft = 0;  // and btExitText
    Box memo;            // mmText inside panText
};
TextWindowLayout PanTextCenter(const TextWindowInput& input);

// The delete question lays itself out around its label.
struct DeleteBoxLayout {
    Box label;
    Box yes;  // btYesDBox
    Box no;   // btNoDBox
    int clientWidth = 0;
    int clientHeight = 0;
};
DeleteBoxLayout LayoutDeleteBox(int labelWidth, int labelHeight, int yesWidth, int noWidth,
                                int buttonHeight);

// The help window lays itself out around its text.
struct HelpBoxLayout {
    Box label;
    Box button;  // btHelp
    int clientWidth = 0;
    int clientHeight = 0;
};
HelpBoxLayout LayoutHelpBox(int labelWidth, int labelHeight, int buttonWidth, int buttonHeight);

// Top of the label above the report check boxes and of the device label, by work state.
struct ReportPanelLayout {
    bool infoVisible = false;  // lbInfoReport
    int infoTop = 0;
    int listTitleTop = 0;  // lb1R
    int scrollTop = 0;     // ScrollBoxReport
    int scrollHeight = 0;
};
ReportPanelLayout LayoutReportPanel(WorkState workState, int topLabelHeight, int infoHeight,
                                    int listTitleHeight, int startButtonTop);

}  // namespace calvix
