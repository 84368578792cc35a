#include "gui/caption_panel.h"

#include <QPainter>

#include "gui/display_text.h"

namespace calvix {

CaptionPanel::CaptionPanel(QWidget* parent, const char* name, int width, int height)
    : QFrame(parent) {
    setObjectName(QString::fromLatin1(name));
    setFrameStyle(QFrame::Panel | QFrame::Raised);
    setLineWidth(1);
    resize(width, height);
    hide();
}

void CaptionPanel::SetCaption(std::string_view cp1251) {
    caption_ = cp1251;
    update();
}

void CaptionPanel::paintEvent(QPaintEvent* event) {
    QFrame::paintEvent(event);
    if (caption_.empty()) {
        return;
    }
    QPainter painter(this);
    painter.drawText(rect(), Qt::AlignCenter | Qt::TextWordWrap, ToQt(caption_));
}

}  // namespace calvix
