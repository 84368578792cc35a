// Every message box and modal dialog of the program goes through here, so that a test can
// give the answer in advance and no modal window ever waits for a person.
#pragma once

#include <string>
#include <string_view>
#include <vector>

class QDialog;
class QWidget;

namespace calvix {

// Modal results of the dialogs.
enum class ModalResult {
    mrNone = 0,
    mrOk = 1,
    mrCancel = 2,
    mrYes = 6,
    mrNo = 7,
};

enum class MessageIcon { Error, Warning, Information };

class DialogService {
  public:
    // A message box with an OK button; texts are 1251. Returns ModalResult::mrOk, or the preset
    // answer.
    static ModalResult ShowMessage(QWidget* parent, std::string_view text, std::string_view caption,
                                   MessageIcon icon);
    // Shows the dialog modally and returns its modal result. With a preset answer the dialog
    // is shown and hidden at once (so it lays itself out) and the answer is returned.
    static ModalResult ShowModal(QDialog* dialog);
    // Asks for the name of a file to write with the toolkit's file dialog; caption and filter
    // are 1251. Returns the chosen path (UTF-8), empty when cancelled.
    static std::string AskSaveFileName(QWidget* parent, std::string_view caption,
                                       std::string_view filter);

    // Answers for the next boxes and dialogs, in order.
    static void SetNextAnswer(ModalResult answer);
    // The answer of the next file dialog (UTF-8 path; empty: cancelled).
    static void SetNextFileName(std::string path);
    static bool HasNextAnswer();
    static void ClearAnswers();
    // Headless runs: a box or dialog without a preset answer is not shown; it is counted and
    // returns ModalResult::mrNone, so a forgotten answer fails a test instead of hanging it.
    static void SetHeadless(bool headless);
    static int UnansweredCount();

    // What was shown since the last call, for tests: a message box's caption and text (1251),
    // a dialog's object name, or "file" with the file dialog's caption.
    struct Shown {
        std::string what;  // "message" or the dialog's object name
        std::string caption;
        std::string text;
    };
    static std::vector<Shown> TakeShown();
};

}  // namespace calvix
