#include "gui/form_controls.h"

#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <algorithm>
#include <vector>

#include "gui/display_text.h"

namespace calvix {

QLabel* AddLabel(QWidget* parent, const char* name, std::string_view text, int left, int top) {
    auto* label = new QLabel(ToQt(text), parent);
    if (name != nullptr) {
        label->setObjectName(QString::fromLatin1(name));
    }
    label->setTextFormat(Qt::PlainText);
    label->adjustSize();
    label->move(left, top);
    return label;
}

QLabel* AddCenteredLabel(QWidget* parent, const char* name, std::string_view text, int left,
                         int top, int width) {
    QLabel* label = AddLabel(parent, name, text, left, top);
    label->setAlignment(Qt::AlignCenter);
    label->setGeometry(left, top, width, 20);
    return label;
}

QPushButton* AddButton(QWidget* parent, const char* name, std::string_view caption, int left,
                       int top, int width) {
    auto* button = new QPushButton(ToQt(caption), parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setGeometry(left, top, width, kButtonHeight);
    button->setAutoDefault(false);
    return button;
}

QListWidget* AddList(QWidget* parent, const char* name, int left, int top, int width, int height) {
    auto* list = new QListWidget(parent);
    list->setObjectName(QString::fromLatin1(name));
    list->setGeometry(left, top, width, height);
    return list;
}

void OrderTabsByScreen(QWidget* panel) {
    struct Stop {
        QWidget* widget;
        QPoint place;  // of its ancestor among the panel's own children
    };
    std::vector<Stop> stops;
    for (QWidget* next = panel->nextInFocusChain(); next != panel && next != nullptr;
         next = next->nextInFocusChain()) {
        if (!panel->isAncestorOf(next) || (next->focusPolicy() & Qt::TabFocus) == 0) {
            continue;
        }
        QWidget* top = next;
        while (top->parentWidget() != panel) {
            top = top->parentWidget();
        }
        stops.push_back({next, top->pos()});
    }
    std::stable_sort(stops.begin(), stops.end(), [](const Stop& a, const Stop& b) {
        return a.place.y() != b.place.y() ? a.place.y() < b.place.y() : a.place.x() < b.place.x();
    });
    for (std::size_t i = 1; i < stops.size(); ++i) {
        QWidget::setTabOrder(stops[i - 1].widget, stops[i].widget);
    }
}

}  // namespace calvix
