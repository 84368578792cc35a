#include "gui/rules/layout_rules.h"

#include <algorithm>

namespace calvix {

Box MainWindowGeometry(int screenWidth, int screenHeight) {
    Box box;
    box.width = screenWidth * 20 / 21;
    box.height = screenWidth <= 800 ? screenHeight * 10 / 11 : screenHeight * 7 / 8;
    box.left = (screenWidth - box.width) / 2;
    box.top = (screenHeight - box.height) / 2;
    return box;
}

Box PanelCenter(int containerWidth, int containerHeight, int panelWidth, int panelHeight) {
    return {(containerWidth - panelWidth) / 2, (containerHeight - panelHeight) / 2, panelWidth,
            panelHeight};
}

Box GrowListPanel(int mainWidth, int mainHeight, int designWidth, int designHeight) {
    constexpr int kMargin = 20;
    const int width = std::max(designWidth, std::min(mainWidth - 2 * kMargin, kListPanelMaxWidth));
    const int height = std::max(designHeight, mainHeight - 2 * kMargin);
    return PanelCenter(mainWidth, mainHeight, width, height);
}

int ColumnLeft(int left, int right, int width, int columns, int column) {
    if (columns < 2) {
        return left;
    }
    return left + (right - left - width) * column / (columns - 1);
}

TextWindowLayout PanTextCenter(const TextWindowInput& in) {
    TextWindowLayout out;
    out.panel = {5, 5, in.mainWidth - 10, in.mainHeight - 10};
    out.firstRowTop = in.titleHeight + 15;
    out.secondRowTop = out.firstRowTop + in.buttonHeight + 15;
    const int gap =
        (out.panel.width - in.nextWidth - in.selectWidth - in.saveWidth - in.returnWidth) / 4;
    out.nextLeft = gap / 2;
    out.selectLeft = out.nextLeft + in.nextWidth + gap;
    out.saveLeft = out.selectLeft + in.selectWidth + gap;
    out.returnLeft = out.saveLeft + in.saveAllWidth + gap;
    const int memoTop = out.secondRowTop + in.buttonHeight + 15;
    out.memo = {10, memoTop, out.panel.width - 20, out.panel.height - memoTop - 10};
    return out;
}

DeleteBoxLayout LayoutDeleteBox(int labelWidth, int labelHeight, int yesWidth, int noWidth,
                                int buttonHeight) {
    DeleteBoxLayout out;
    out.label = {20, 20, labelWidth, labelHeight};
    out.clientWidth = labelWidth + 40;
    if (out.clientWidth < 300) {
        out.clientWidth = 300;
        out.label.left = (out.clientWidth - labelWidth) / 2;
    }
    const int buttonTop = out.label.Bottom() + 20;
    const int gap = (out.clientWidth - yesWidth - noWidth) / 3;
    out.yes = {gap, buttonTop, yesWidth, buttonHeight};
    out.no = {2 * gap + yesWidth, buttonTop, noWidth, buttonHeight};
    out.clientHeight = buttonTop + buttonHeight + 20;
    return out;
}

HelpBoxLayout LayoutHelpBox(int labelWidth, int labelHeight, int buttonWidth, int buttonHeight) {
    HelpBoxLayout out;
    if (labelWidth <= 260) {
        out.clientWidth = 300;
        out.label = {(out.clientWidth - labelWidth) / 2, 20, labelWidth, labelHeight};
    } else {
        out.label = {20, 20, labelWidth, labelHeight};
        out.clientWidth = labelWidth + 40;
    }
    out.button = {(out.clientWidth - buttonWidth) / 2, out.label.Bottom() + 20, buttonWidth,
                  buttonHeight};
    out.clientHeight = out.button.Bottom() + 20;
    return out;
}

ReportPanelLayout LayoutReportPanel(WorkState workState, int topLabelHeight, int infoHeight,
                                    int listTitleHeight, int startButtonTop) {
    ReportPanelLayout out;
    if (workState == WorkState::stArchive) {
        out.infoVisible = false;
        out.listTitleTop = topLabelHeight + 10;
    } else {
        out.infoVisible = true;
        out.infoTop = topLabelHeight + 10;
        out.listTitleTop = out.infoTop + infoHeight + 10;
    }
    out.scrollTop = out.listTitleTop + listTitleHeight + 15;
    out.scrollHeight = startButtonTop - out.scrollTop - 15;
    return out;
}

}  // namespace calvix
