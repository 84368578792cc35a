// The small modal dialogs of the program: start and about window, exit question, delete
// question, help window and the printer choice. Each is created once and reused.
#pragma once

#include <QDialog>
#include <QString>
#include <string_view>

#include "gui/dialog_service.h"
#include "gui/rules/printer_choice.h"

class QLabel;
class QPushButton;
class QListWidget;
class QComboBox;

namespace calvix {

// Border style of a dialog: fixed size, no close box; a button's modal result ends it.
class CalvixDialog : public QDialog {
  public:
    explicit CalvixDialog(const char* name, std::string_view caption);
    // Modal result of the Escape key; mrNone when Escape does nothing.
    virtual ModalResult EscapeResult() const { return ModalResult::mrNone; }
    // Ends the dialog with a modal result.
    void End(ModalResult result) { done(static_cast<int>(result)); }
    void reject() override;

  protected:
    QPushButton* AddButton(const char* name, std::string_view caption, ModalResult modalResult);
    void CenterOnScreen();
    void showEvent(QShowEvent* event) override;
    // Lays the dialog out just before it is shown.
    virtual void LayOut() {}
};

class TAboutBox : public CalvixDialog {
  public:
    TAboutBox();
    // The about form: caption "О программе", only "Дальше".
    void SetAboutMode();
    ModalResult EscapeResult() const override;

  private:
    QLabel* label1_;
    QLabel* label2_;
    QPushButton* start_;
    QPushButton* exit_;
    QPushButton* close_;
};

class TCloseBox : public CalvixDialog {
  public:
    TCloseBox();
    ModalResult EscapeResult() const override;

  protected:
    void LayOut() override;

  private:
    QLabel* label_;
    QPushButton* yes_;
    QPushButton* no_;
};

class TDeleteBox : public CalvixDialog {
  public:
    TDeleteBox();
    void SetText(std::string_view cp1251);

  protected:
    void LayOut() override;

  private:
    QLabel* label_;
    QPushButton* yes_;
    QPushButton* no_;
};

class THelpBox : public CalvixDialog {
  public:
    THelpBox();
    void SetText(std::string_view cp1251);
    ModalResult EscapeResult() const override;

  protected:
    void LayOut() override;

  private:
    QLabel* label_;
    QPushButton* button_;
};

// The printer choice: the printer, or a PDF file, and the font size and page orientation of
// printed reports, all kept while the program runs.
class TSelectPrinterBox : public CalvixDialog {
  public:
    TSelectPrinterBox();
    int FontSize() const { return choice_.fontSize; }
    int Orientation() const { return choice_.orientation; }
    // The printer chosen with "Дальше"; empty: the system's default printer.
    const QString& CurrentPrinter() const { return currentPrinter_; }
    // True when the PDF file entry was chosen with "Дальше" (printing asks for a file name).
    bool PdfChosen() const { return pdfChosen_; }
    // Leaving the box leaves its combo boxes, so their rules apply here too; "Дальше" takes
    // the selected entry.
    void done(int result) override;

  protected:
    void LayOut() override;

  private:
    void LeaveFontSize();
    void LeaveOrientation();

    QLabel* lb1_;
    QLabel* lb2_;
    QListWidget* printers_;
    QComboBox* fontSize_;
    QComboBox* orientation_;
    PrintChoice choice_;
    QString currentPrinter_;
    bool pdfChosen_ = false;
};

}  // namespace calvix
