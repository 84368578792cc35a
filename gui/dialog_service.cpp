#include "gui/dialog_service.h"

#include <QDialog>
#include <QFileDialog>
#include <QMessageBox>
#include <deque>

#include "gui/display_text.h"

namespace calvix {
namespace {

// Only the GUI thread touches these.
std::deque<ModalResult>& Answers() {
    static std::deque<ModalResult> answers;
    return answers;
}

std::deque<std::string>& FileNames() {
    static std::deque<std::string> names;
    return names;
}

std::vector<DialogService::Shown>& ShownList() {
    static std::vector<DialogService::Shown> shown;
    return shown;
}

struct Headless {
    bool on = false;
    int unanswered = 0;
};

Headless& HeadlessState() {
    static Headless state;
    return state;
}

// The preset answer, if any; in headless runs a missing one counts and gives ModalResult::mrNone.
bool TakeAnswer(ModalResult& answer) {
    if (!Answers().empty()) {
        answer = Answers().front();
        Answers().pop_front();
        return true;
    }
    if (HeadlessState().on) {
        ++HeadlessState().unanswered;
        answer = ModalResult::mrNone;
        return true;
    }
    return false;
}

QMessageBox::Icon ToQt(MessageIcon icon) {
    switch (icon) {
        case MessageIcon::Error:
            return QMessageBox::Critical;
        case MessageIcon::Warning:
            return QMessageBox::Warning;
        case MessageIcon::Information:
            return QMessageBox::Information;
    }
    return QMessageBox::NoIcon;
}

}  // namespace

ModalResult DialogService::ShowMessage(QWidget* parent, std::string_view text,
                                       std::string_view caption, MessageIcon icon) {
    ShownList().push_back({"message", std::string(caption), std::string(text)});
    ModalResult answer = ModalResult::mrNone;
    if (TakeAnswer(answer)) {
        return answer;
    }
    QMessageBox box(ToQt(icon), calvix::ToQt(caption), calvix::ToQt(text), QMessageBox::Ok, parent);
    box.exec();
    return ModalResult::mrOk;
}

ModalResult DialogService::ShowModal(QDialog* dialog) {
    ShownList().push_back({dialog->objectName().toStdString(), "", ""});
    ModalResult answer = ModalResult::mrNone;
    if (TakeAnswer(answer)) {
        dialog->show();
        dialog->done(static_cast<int>(answer));
        return answer;
    }
    // Our dialogs end only through ModalResult values (see CalvixDialog).
    return static_cast<ModalResult>(dialog->exec());
}

std::string DialogService::AskSaveFileName(QWidget* parent, std::string_view caption,
                                           std::string_view filter) {
    ShownList().push_back({"file", std::string(caption), ""});
    if (!FileNames().empty()) {
        std::string name = std::move(FileNames().front());
        FileNames().pop_front();
        return name;
    }
    if (HeadlessState().on) {
        ++HeadlessState().unanswered;
        return {};
    }
    return QFileDialog::getSaveFileName(parent, calvix::ToQt(caption), QString(),
                                        calvix::ToQt(filter))
        .toStdString();
}

void DialogService::SetNextFileName(std::string path) {
    FileNames().push_back(std::move(path));
}

void DialogService::SetNextAnswer(ModalResult answer) {
    Answers().push_back(answer);
}

bool DialogService::HasNextAnswer() {
    return !Answers().empty();
}

void DialogService::ClearAnswers() {
    Answers().clear();
    FileNames().clear();
}

void DialogService::SetHeadless(bool headless) {
    HeadlessState().on = headless;
}

int DialogService::UnansweredCount() {
    return HeadlessState().unanswered;
}

std::vector<DialogService::Shown> DialogService::TakeShown() {
    std::vector<Shown> out;
    out.swap(ShownList());
    return out;
}

}  // namespace calvix
