// A raised panel that can carry a caption drawn in its centre; the work panels of the main
// window are such panels.
#pragma once

#include <QFrame>
#include <string>
#include <string_view>

namespace calvix {

class CaptionPanel : public QFrame {
  public:
    CaptionPanel(QWidget* parent, const char* name, int width, int height);
    void SetCaption(std::string_view cp1251);
    const std::string& Caption() const { return caption_; }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    std::string caption_;  // 1251
};

}  // namespace calvix
