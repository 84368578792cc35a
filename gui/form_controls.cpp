#include "gui/form_controls.h"

#include <QPainter>

#include <QCheckBox>
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

namespace {

constexpr const char* kCaptionProperty = "caption1251";
constexpr const char* kTagProperty = "tag";

// "&" doubled, so no letter of a caption becomes a mnemonic.
QString Unmnemonic(const std::string& caption) {
    QString out = ToQt(caption);
    out.replace(QStringLiteral("&"), QStringLiteral("&&"));
    return out;
}

}  // namespace

QCheckBox* AddReportCheckBox(QWidget* parent, const QString& name, const std::string& caption,
                             std::size_t tag, int index, int width, bool checked) {
    auto* box = new QCheckBox(parent);
    box->setObjectName(name);
    SetReportCheckBoxCaption(box, caption);
    box->setProperty(kTagProperty, static_cast<qulonglong>(tag));
    QFont font = parent->font();
    font.setPointSize(10);
    box->setFont(font);
    box->setBackgroundRole(QPalette::Window);
    box->setAutoFillBackground(true);
    box->setGeometry(0, kCheckBoxStep * index, width, kCheckBoxStep);
    box->setChecked(checked);
    PaintReportCheckBox(box);
    QObject::connect(box, &QCheckBox::clicked, box, [box] { PaintReportCheckBox(box); });
    box->show();
    return box;
}

void PaintReportCheckBox(QCheckBox* box) {
    QPalette palette = box->palette();
    const bool checked = box->isChecked();
    palette.setColor(QPalette::Window, checked ? QColor(0x00, 0x00, 0x80) : QColor(Qt::white));
    palette.setColor(QPalette::WindowText, checked ? QColor(Qt::white) : QColor(Qt::black));
    box->setPalette(palette);
}

std::string ReportCheckBoxCaption(const QCheckBox* box) {
    return box->property(kCaptionProperty).toByteArray().toStdString();
}

std::size_t ReportCheckBoxTag(const QCheckBox* box) {
    return static_cast<std::size_t>(box->property(kTagProperty).toULongLong());
}

void SetReportCheckBoxCaption(QCheckBox* box, const std::string& caption) {
    box->setProperty(kCaptionProperty, QByteArray::fromStdString(caption));
    box->setText(Unmnemonic(caption));
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

LampWidget::LampWidget(QWidget* parent, const char* name) : QWidget(parent) {
    setObjectName(QString::fromLatin1(name));
    setProperty("color", LampYellow());
    hide();
}

void LampWidget::Paint(const QColor& colour) {
    setProperty("color", colour);
    update();
}

void LampWidget::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::black);
    painter.setBrush(property("color").value<QColor>());
    painter.drawEllipse(rect().adjusted(1, 1, -1, -1));
}

QColor LampGreen() {
    return {0x00, 0x80, 0x00};
}

QColor LampRed() {
    return {0xFF, 0x00, 0x00};
}

QColor LampYellow() {
    return {0xFF, 0xFF, 0x00};
}

}  // namespace calvix
