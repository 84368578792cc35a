#include "gui/report_archive.h"

#include <QListWidget>
#include <QPushButton>
#include <QTextEdit>
#include <algorithm>
#include <array>
#include <vector>

#include "gui/dialog_service.h"
#include "gui/dialogs.h"
#include "gui/display_text.h"
#include "gui/rules/report_archive.h"
#include "gui/rules/report_files.h"
#include "gui/rules/texts.h"
#include "gui/unitmainform.h"
#include "platform/cp1251_literal.h"

namespace calvix {
namespace text {

inline constexpr std::string_view kArchiveFolderFailed =
    W1251("Ошибка при создании каталога Archive.");
inline constexpr std::string_view kNoReportToSave = W1251("Не выбран отчет для сохранения.");
inline constexpr std::string_view kReportSaved = W1251("Отчет сохранен.");
inline constexpr std::string_view kSaveFailed = W1251("Ошибка при сохранении отчета.\r\n");
inline constexpr std::string_view kNoReportsToSave = W1251("Нет отчетов для сохранения.");
inline constexpr std::string_view kSaveMissing =
    W1251("Ошибка при сохранении отчета (файл не найден).\r\n");
inline constexpr std::string_view kReportsSaved = W1251("Отчеты сохранены");
inline constexpr std::string_view kNoneSaved = W1251("Ни один отчет не был сохранен.");
inline constexpr std::string_view kNoArchiveFolder = W1251("Не найден каталог Archive.");
inline constexpr std::string_view kNoReportToDelete = W1251("Не выбран отчет для удаления.");
inline constexpr std::string_view kDeleteOne =
    W1251("Вы действительно хотите удалить отчет\r\n\r\n");
inline constexpr std::string_view kNoReportsToView = W1251("Нет отчетов для просмотра");
inline constexpr std::string_view kReportDeleted = W1251("Отчет удален.");
inline constexpr std::string_view kNoReportsToDelete = W1251("Нет отчетов для удаления.");
inline constexpr std::string_view kDeleteAll =
    W1251("Вы действительно хотите удалить все выбранные отчеты?");
inline constexpr std::string_view kAllDeleted = W1251("Все выбранные отчеты удалены.");
// A report file that stays where it was is not reported as deleted.
inline constexpr std::string_view kDeleteFailed = W1251("Ошибка при удалении отчета.\r\n");

}  // namespace text

namespace {

std::string Cat(std::string_view a, std::string_view b, std::string_view c = {}) {
    std::string out(a);
    out += b;
    out += c;
    return out;
}

}  // namespace

TReportArchive::TReportArchive(TMainForm& form) : form_(form) {
    connect(Button("btSaveText"), &QPushButton::clicked, this, [this] { btSaveTextClick(); });
    connect(Button("btSaveAllText"), &QPushButton::clicked, this, [this] { btSaveAllTextClick(); });
    connect(Button("btDeleteText"), &QPushButton::clicked, this, [this] { btDeleteTextClick(); });
    connect(Button("btDeleteAllText"), &QPushButton::clicked, this,
            [this] { btDeleteAllTextClick(); });
}

QPushButton* TReportArchive::Button(const char* name) {
    auto* button = form_.findChild<QPushButton*>(QString::fromLatin1(name));
    button->setEnabled(true);
    return button;
}

void TReportArchive::Result(std::string_view message) {
    form_.HidePanel(Panel::Text);
    form_.ShowErrorPanel(message, form_.PanelWidget(Panel::Text));
}

void TReportArchive::ErrorBox(std::string_view text) {
    DialogService::ShowMessage(&form_, text, text::kError, MessageIcon::Error);
}

std::string TReportArchive::ItemCaption(int index) const {
    const QListWidgetItem* item = form_.ReportList()->item(index);
    if (item == nullptr) {
        return {};
    }
    const QVariant caption = item->data(Qt::UserRole);
    return caption.isValid() ? caption.toByteArray().toStdString() : From1251Widget(item->text());
}

std::string TReportArchive::DeviceTitle() {
    if (form_.DeviceTitle().empty()) {
        form_.SetDeviceTitle(std::string(text::kUnknownDevice));
    }
    return form_.DeviceTitle();
}

bool TReportArchive::MemoShowsMessage() const {
    const std::string shown = From1251Widget(form_.Memo()->toPlainText());
    const std::array<std::string_view, 4> messages{text::kReportNotFound, text::kReportEmpty,
                                                   text::kReportReadFailed, text::kNoReportsToView};
    return std::find(messages.begin(), messages.end(), shown) != messages.end();
}

void TReportArchive::btSaveTextClick() {
    if (form_.CurrentWorkState() == WorkState::stArchive) {
        return;
    }
    form_.HidePanel(Panel::Text);
    const auto& start = form_.StartFolder();
    if (!MakeArchiveFolder(start)) {
        Result(text::kArchiveFolderFailed);
        return;
    }
    const int index = form_.ReportList()->currentRow();
    if (index < 0) {
        Result(text::kNoReportToSave);
        return;
    }
    const std::string title = DeviceTitle() + ItemCaption(index);
    const std::string path = ArchiveTargetPath(start, title);
    bool saved = false;
    if (!MemoShowsMessage()) {
        saved = WriteArchiveReport(start, path, title, form_.ReportLines());
    } else {
        // The text window says why it shows no report: the message is no report, and the
        // report lines may still be another report's. Save the report file as "Сохранить все"
        // does.
        const std::vector<std::string>& reports = form_.CreatedReports();
        const std::string source =
            static_cast<std::size_t>(index) < reports.size() ? reports[index] : std::string();
        const ArchiveCopy copy =
            CopyIntoArchive(start, source, path, title, form_.Hooks().correctReport);
        if (copy == ArchiveCopy::kMissing) {
            ErrorBox(Cat(text::kSaveMissing, path));
            form_.ShowPanel(Panel::Text);
            return;
        }
        saved = copy == ArchiveCopy::kSaved;
    }
    if (saved) {
        Result(text::kReportSaved);
        return;
    }
    ErrorBox(Cat(text::kSaveFailed, path));
    form_.ShowPanel(Panel::Text);
}

void TReportArchive::btSaveAllTextClick() {
    if (form_.CurrentWorkState() == WorkState::stArchive) {
        return;
    }
    form_.HidePanel(Panel::Text);
    const auto& start = form_.StartFolder();
    if (!MakeArchiveFolder(start)) {
        Result(text::kArchiveFolderFailed);
        return;
    }
    const int items = form_.ReportList()->count();
    if (items == 0) {
        Result(text::kNoReportsToSave);
        return;
    }
    const std::string device = DeviceTitle();
    const std::vector<std::string> reports = form_.CreatedReports();
    const int count = std::min(items, static_cast<int>(reports.size()));
    int saved = 0;
    for (int j = 0; j < count; ++j) {
        const std::string title = device + ItemCaption(j);
        const std::string target = ArchiveTargetPath(start, title);
        switch (CopyIntoArchive(start, reports[static_cast<std::size_t>(j)], target, title,
                                form_.Hooks().correctReport)) {
            case ArchiveCopy::kSaved:
                ++saved;
                break;
            case ArchiveCopy::kMissing:
                ErrorBox(Cat(text::kSaveMissing, target));
                break;
            case ArchiveCopy::kFailed:
                ErrorBox(Cat(text::kSaveFailed, target));
                break;
        }
    }
    Result(saved > 0 ? text::kReportsSaved : text::kNoneSaved);
}

bool TReportArchive::AskDelete(std::string_view question) {
    TDeleteBox* box = form_.DeleteBox();
    box->SetText(question);
    return DialogService::ShowModal(box) == ModalResult::mrYes;
}

void TReportArchive::ShowNoReports() {
    form_.ShowMemoMessage(text::kNoReportsToView);
    form_.ShowPanel(Panel::Text);
}

void TReportArchive::btDeleteTextClick() {
    if (form_.CurrentWorkState() != WorkState::stArchive) {
        return;
    }
    const auto& start = form_.StartFolder();
    if (!ArchiveFolderExists(start)) {
        Result(text::kNoArchiveFolder);
        return;
    }
    QListWidget* list = form_.ReportList();
    const int index = list->currentRow();
    if (index < 0) {
        Result(text::kNoReportToDelete);
        return;
    }
    const std::string title = ItemCaption(index);
    if (!AskDelete(Cat(text::kDeleteOne, title, " ?"))) {
        return;
    }
    const std::vector<std::string>& reports = form_.CreatedReports();
    const std::string path = static_cast<std::size_t>(index) < reports.size()
                                 ? reports[static_cast<std::size_t>(index)]
                                 : ArchiveReportPath(title);
    if (!DeleteArchiveReport(start, path)) {
        ErrorBox(Cat(text::kDeleteFailed, path));
        return;
    }
    form_.RemoveCreatedReport(index);
    form_.RemoveReportCheckBox(title);
    if (list->count() > 0) {
        list->setCurrentRow(std::max(list->currentRow(), 0));
        form_.OpenSelectedReport();
    } else {
        ShowNoReports();
    }
    Result(text::kReportDeleted);
}

void TReportArchive::btDeleteAllTextClick() {
    if (form_.CurrentWorkState() != WorkState::stArchive) {
        return;
    }
    const auto& start = form_.StartFolder();
    if (!ArchiveFolderExists(start)) {
        Result(text::kNoArchiveFolder);
        return;
    }
    QListWidget* list = form_.ReportList();
    if (list->count() == 0) {
        Result(text::kNoReportsToDelete);
        return;
    }
    if (!AskDelete(text::kDeleteAll)) {
        return;
    }
    std::vector<int> deleted;
    for (int i = 0; i < list->count(); ++i) {
        const std::string title = ItemCaption(i);
        const std::vector<std::string>& reports = form_.CreatedReports();
        const std::string path = static_cast<std::size_t>(i) < reports.size()
                                     ? reports[static_cast<std::size_t>(i)]
                                     : ArchiveReportPath(title);
        if (DeleteArchiveReport(start, path)) {
            form_.RemoveReportCheckBox(title);
            deleted.push_back(i);
        } else {
            ErrorBox(Cat(text::kDeleteFailed, path));
        }
    }
    for (auto it = deleted.rbegin(); it != deleted.rend(); ++it) {
        form_.RemoveCreatedReport(*it);
    }
    if (list->count() > 0) {
        // What could not be deleted stays listed, and the text window shows the first of it.
        list->setCurrentRow(0);
        form_.OpenSelectedReport();
        return;
    }
    ShowNoReports();
    Result(text::kAllDeleted);
}

}  // namespace calvix
