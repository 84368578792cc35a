#include "gui/dialog_service.h"

#include <QDialog>
#include <QMessageBox>
#include <deque>

#include "gui/display_text.h"

namespace calvix {
namespace {

// Only the GUI thread touches these.
std::deque<int>& Answers() {
    static std::deque<int> answers;
    return answers;
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

// The preset answer, if any; in headless runs a missing one counts and gives mrNone.
bool TakeAnswer(int& answer) {
    if (!Answers().empty()) {
        answer = Answers().front();
        Answers().pop_front();
        return true;
    }
    if (HeadlessState().on) {
        ++HeadlessState().unanswered;
        answer = mrNone;
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

int DialogService::ShowMessage(QWidget* parent, std::string_view text, std::string_view caption,
                               MessageIcon icon) {
    ShownList().push_back({"message", std::string(caption), std::string(text)});
    int answer = mrNone;
    if (TakeAnswer(answer)) {
        return answer;
    }
    QMessageBox box(ToQt(icon), calvix::ToQt(caption), calvix::ToQt(text), QMessageBox::Ok, parent);
    box.exec();
    return mrOk;
}

int DialogService::ShowModal(QDialog* dialog) {
    ShownList().push_back({dialog->objectName().toStdString(), "", ""});
    int answer = mrNone;
    if (TakeAnswer(answer)) {
        dialog->show();
        dialog->done(answer);
        return answer;
    }
    return dialog->exec();
}

void DialogService::SetNextAnswer(int answer) {
    Answers().push_back(answer);
}

bool DialogService::HasNextAnswer() {
    return !Answers().empty();
}

void DialogService::ClearAnswers() {
    Answers().clear();
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
