#include "gui/dialogs.h"

#include <QComboBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPrinterInfo>
#include <QPushButton>
#include <QScreen>

#include "gui/dialog_service.h"
#include "gui/display_text.h"
#include "gui/rules/layout_rules.h"
#include "gui/rules/texts.h"
#include "platform/cp1251_literal.h"

namespace calvix {
namespace {

// Printing into a PDF file, offered beside the printers: operators send reports by e-mail.
constexpr std::string_view kPrintToPdf = W1251("Печать в файл PDF");

constexpr int kButtonWidth = 100;
constexpr int kButtonHeight = 28;

QLabel* MakeLabel(QWidget* parent, const char* name, std::string_view text) {
    auto* label = new QLabel(ToQt(text), parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setTextFormat(Qt::PlainText);
    label->adjustSize();
    return label;
}

void Place(QWidget* widget, const Box& box) {
    widget->setGeometry(box.left, box.top, box.width, box.height);
}

}  // namespace

CalvixDialog::CalvixDialog(const char* name, std::string_view caption) {
    setObjectName(QString::fromLatin1(name));
    setWindowTitle(ToQt(caption));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    setModal(true);
}

void CalvixDialog::reject() {
    const ModalResult result = EscapeResult();
    if (result != ModalResult::mrNone) {
        End(result);
    }
}

QPushButton* CalvixDialog::AddButton(const char* name, std::string_view caption,
                                     ModalResult modalResult) {
    auto* button = new QPushButton(ToQt(caption), this);
    button->setObjectName(QString::fromLatin1(name));
    button->setAutoDefault(false);
    button->resize(kButtonWidth, kButtonHeight);
    connect(button, &QPushButton::clicked, this, [this, modalResult] { End(modalResult); });
    return button;
}

void CalvixDialog::CenterOnScreen() {
    QScreen* screen = QGuiApplication::primaryScreen();
    if (screen == nullptr) {
        return;
    }
    const QRect area = screen->geometry();
    move(area.left() + (area.width() - width()) / 2, area.top() + (area.height() - height()) / 2);
}

void CalvixDialog::showEvent(QShowEvent* event) {
    LayOut();
    CenterOnScreen();
    QDialog::showEvent(event);
}

TAboutBox::TAboutBox() : CalvixDialog("TAboutBox", text::kStartCaption) {
    label1_ = MakeLabel(this, "Label1", text::kAppTitle);
    QFont large = label1_->font();
    large.setPointSize(18);
    large.setBold(true);
    label1_->setFont(large);
    label1_->adjustSize();
    label2_ = MakeLabel(this, "Label2", text::kVersion);
    start_ = AddButton("BitBtn1", text::kStart, ModalResult::mrOk);
    exit_ = AddButton("BitBtn2", text::kExit, ModalResult::mrCancel);
    close_ = AddButton("btAboutClose", text::kNext, ModalResult::mrYes);
    close_->hide();
    start_->setDefault(true);

    const int width = std::max(360, label1_->width() + 60);
    label1_->move((width - label1_->width()) / 2, 30);
    label2_->move((width - label2_->width()) / 2, label1_->geometry().bottom() + 16);
    const int buttonsTop = label2_->geometry().bottom() + 30;
    start_->move(width / 2 - kButtonWidth - 15, buttonsTop);
    exit_->move(width / 2 + 15, buttonsTop);
    close_->move((width - kButtonWidth) / 2, buttonsTop);
    setFixedSize(width, buttonsTop + kButtonHeight + 24);
}

void TAboutBox::SetAboutMode() {
    setWindowTitle(ToQt(text::kAboutCaption));
    start_->hide();
    exit_->hide();
    close_->show();
    close_->setDefault(true);
}

ModalResult TAboutBox::EscapeResult() const {
    return exit_->isHidden() ? ModalResult::mrNone : ModalResult::mrCancel;
}

TCloseBox::TCloseBox() : CalvixDialog("TCloseBox", text::kCloseCaption) {
    label_ = MakeLabel(this, "Label1", text::kCloseQuestion);
    yes_ = AddButton("BitBtn1", text::kYes, ModalResult::mrYes);
    no_ = AddButton("BitBtn2", text::kNo, ModalResult::mrNo);
    yes_->setDefault(true);
}

void TCloseBox::LayOut() {
    const int width = std::max(300, label_->width() + 60);
    label_->move((width - label_->width()) / 2, 24);
    const int top = label_->geometry().bottom() + 24;
    yes_->move(width / 2 - kButtonWidth - 15, top);
    no_->move(width / 2 + 15, top);
    setFixedSize(width, top + kButtonHeight + 20);
}

ModalResult TCloseBox::EscapeResult() const {
    return ModalResult::mrNo;
}

TDeleteBox::TDeleteBox() : CalvixDialog("TDeleteBox", text::kDeleteCaption) {
    label_ = MakeLabel(this, "lb1DeleteBox", text::kDeleteQuestion);
    yes_ = AddButton("btYesDBox", text::kYes, ModalResult::mrYes);
    no_ = AddButton("btNoDBox", text::kNo, ModalResult::mrNo);
}

void TDeleteBox::SetText(std::string_view cp1251) {
    label_->setText(ToQt(cp1251));
    label_->adjustSize();
}

void TDeleteBox::LayOut() {
    label_->adjustSize();
    const DeleteBoxLayout layout = LayoutDeleteBox(label_->width(), label_->height(), yes_->width(),
                                                   no_->width(), kButtonHeight);
    Place(label_, layout.label);
    Place(yes_, layout.yes);
    Place(no_, layout.no);
    setFixedSize(layout.clientWidth, layout.clientHeight);
}

THelpBox::THelpBox() : CalvixDialog("THelpBox", text::kHelpCaption) {
    label_ = MakeLabel(this, "lbHelp", "");
    button_ = AddButton("btHelp", text::kHelpContinue, ModalResult::mrYes);
    button_->resize(150, kButtonHeight);
    button_->setDefault(true);
}

void THelpBox::SetText(std::string_view cp1251) {
    label_->setText(ToQt(cp1251));
    label_->adjustSize();
}

void THelpBox::LayOut() {
    label_->adjustSize();
    const HelpBoxLayout layout =
        LayoutHelpBox(label_->width(), label_->height(), button_->width(), kButtonHeight);
    Place(label_, layout.label);
    Place(button_, layout.button);
    setFixedSize(layout.clientWidth, layout.clientHeight);
}

ModalResult THelpBox::EscapeResult() const {
    return ModalResult::mrYes;
}

TSelectPrinterBox::TSelectPrinterBox() : CalvixDialog("TSelectPrinterBox", text::kPrinterCaption) {
    lb1_ = MakeLabel(this, "lb1SP", text::kPrinterChoose);
    lb2_ = MakeLabel(this, "lb2SP", text::kPrinterSelected);
    MakeLabel(this, "lb3SP", text::kPrinterList)->move(20, 70);
    printers_ = new QListWidget(this);
    printers_->setObjectName(QStringLiteral("listAllPrinters"));
    printers_->setGeometry(20, 92, 400, 120);
    MakeLabel(this, "lbFontSizeSP", text::kFontSize)->move(20, 228);
    fontSize_ = new QComboBox(this);
    fontSize_->setObjectName(QStringLiteral("cbFontSize"));
    fontSize_->setEditable(true);
    for (const std::string& size : FontSizeItems()) {
        fontSize_->addItem(ToQt(size));
    }
    fontSize_->setCurrentText(QString::number(choice_.fontSize));
    fontSize_->setGeometry(20, 248, 120, 24);
    connect(fontSize_->lineEdit(), &QLineEdit::editingFinished, this, [this] { LeaveFontSize(); });
    MakeLabel(this, "lbOrientSP", text::kPageOrientation)->move(220, 228);
    orientation_ = new QComboBox(this);
    orientation_->setObjectName(QStringLiteral("cbListOrient"));
    orientation_->setEditable(true);
    for (std::string_view item : OrientationItems()) {
        orientation_->addItem(ToQt(item));
    }
    orientation_->setCurrentText(ToQt(OrientationText(choice_.orientation)));
    orientation_->setGeometry(220, 248, 200, 24);
    connect(orientation_->lineEdit(), &QLineEdit::editingFinished, this,
            [this] { LeaveOrientation(); });
    QPushButton* start = AddButton("btStartSP", text::kNext, ModalResult::mrOk);
    start->move(170, 292);
    start->setDefault(true);
    setFixedSize(440, 336);
}

void TSelectPrinterBox::LeaveFontSize() {
    choice_.fontSize = FontSizeFromText(From1251Widget(fontSize_->currentText()), choice_.fontSize);
    fontSize_->setCurrentText(QString::number(choice_.fontSize));
}

void TSelectPrinterBox::LeaveOrientation() {
    choice_.orientation =
        OrientationFromText(From1251Widget(orientation_->currentText()), choice_.orientation);
    orientation_->setCurrentText(ToQt(OrientationText(choice_.orientation)));
}

void TSelectPrinterBox::done(int result) {
    LeaveFontSize();
    LeaveOrientation();
    const QListWidgetItem* item = printers_->currentItem();
    if (result == static_cast<int>(ModalResult::mrOk) && item != nullptr) {
        pdfChosen_ = item->data(Qt::UserRole).toBool();
        if (!pdfChosen_) {
            // A printer that has gone meanwhile leaves the current one as it was.
            const QPrinterInfo info = QPrinterInfo::printerInfo(item->text());
            if (!info.isNull()) {
                currentPrinter_ = info.printerName();
            }
        }
    }
    CalvixDialog::done(result);
}

void TSelectPrinterBox::LayOut() {
    printers_->clear();
    const QStringList names = QPrinterInfo::availablePrinterNames();
    const PrinterBoxLabels labels = LabelsFor(!names.isEmpty());
    lb1_->setText(ToQt(labels.first));
    lb2_->setText(ToQt(labels.second));
    printers_->addItems(names);
    // The PDF file entry comes after the printers, also when there are none.
    auto* pdf = new QListWidgetItem(ToQt(kPrintToPdf), printers_);
    pdf->setData(Qt::UserRole, true);
    const QString current =
        currentPrinter_.isEmpty() ? QPrinterInfo::defaultPrinterName() : currentPrinter_;
    const int index = static_cast<int>(names.indexOf(current));
    if (pdfChosen_) {
        printers_->setCurrentItem(pdf);
    } else if (!names.isEmpty()) {
        printers_->setCurrentRow(index < 0 ? 0 : index);
    }
    for (QLabel* label : {lb1_, lb2_}) {
        label->adjustSize();
    }
    lb1_->move((width() - lb1_->width()) / 2, 16);
    lb2_->move((width() - lb2_->width()) / 2, 40);
}

}  // namespace calvix
