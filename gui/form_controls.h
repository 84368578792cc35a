// Controls of the window's panels, made the same way everywhere: named for the tests and the
// help, plain text in 1251, placed by hand.
#pragma once

#include <string_view>

class QLabel;
class QListWidget;
class QPushButton;
class QWidget;

namespace calvix {

inline constexpr int kButtonHeight = 28;

// A label as wide as its text; `name` may be null.
QLabel* AddLabel(QWidget* parent, const char* name, std::string_view text, int left, int top);
// A label of a fixed width with its text centred.
QLabel* AddCenteredLabel(QWidget* parent, const char* name, std::string_view text, int left,
                         int top, int width);
QPushButton* AddButton(QWidget* parent, const char* name, std::string_view caption, int left,
                       int top, int width);
QListWidget* AddList(QWidget* parent, const char* name, int left, int top, int width, int height);

// Tab moves through a panel's controls as they stand on the screen: row by row, left to right.
// A compound control (a scroll box with its check boxes, a calendar) keeps its inner order.
void OrderTabsByScreen(QWidget* panel);

}  // namespace calvix
