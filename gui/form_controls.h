// Controls of the window's panels, made the same way everywhere: named for the tests and the
// help, plain text in 1251, placed by hand.
#pragma once

#include <QColor>
#include <QWidget>
#include <cstddef>
#include <string>
#include <string_view>

class QCheckBox;
class QLabel;
class QListWidget;
class QPaintEvent;
class QString;
class QPushButton;

namespace calvix {

inline constexpr int kButtonHeight = 28;
// Report check boxes stand one under the other at this step.
inline constexpr int kCheckBoxStep = 17;

// A label as wide as its text; `name` may be null.
QLabel* AddLabel(QWidget* parent, const char* name, std::string_view text, int left, int top);
// A label of a fixed width with its text centred.
QLabel* AddCenteredLabel(QWidget* parent, const char* name, std::string_view text, int left,
                         int top, int width);
QPushButton* AddButton(QWidget* parent, const char* name, std::string_view caption, int left,
                       int top, int width);
QListWidget* AddList(QWidget* parent, const char* name, int left, int top, int width, int height);

// A report check box at row `index` of a list: 10-point font, its 1251 caption and `tag` (the
// template's index) kept with it, "&" shown as it is, coloured by its state on every click.
QCheckBox* AddReportCheckBox(QWidget* parent, const QString& name, const std::string& caption,
                             std::size_t tag, int index, int width, bool checked);
// Navy with white text when checked, white with black text when not.
void PaintReportCheckBox(QCheckBox* box);
std::string ReportCheckBoxCaption(const QCheckBox* box);
std::size_t ReportCheckBoxTag(const QCheckBox* box);
// A new 1251 caption, shown as the box shows every caption.
void SetReportCheckBoxCaption(QCheckBox* box, const std::string& caption);

// The activity lamps of the reading windows: a round lamp in the colour of its "color" property
// (which the tests read), hidden at first.
class LampWidget : public QWidget {
  public:
    LampWidget(QWidget* parent, const char* name);
    void Paint(const QColor& colour);

  protected:
    void paintEvent(QPaintEvent* event) override;
};
// 008000h green after a good exchange, pure red after a failed one, yellow at the end.
QColor LampGreen();
QColor LampRed();
QColor LampYellow();

// Tab moves through a panel's controls as they stand on the screen: row by row, left to right.
// A compound control (a scroll box with its check boxes, a calendar) keeps its inner order.
void OrderTabsByScreen(QWidget* panel);

}  // namespace calvix
