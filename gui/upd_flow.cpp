#include "gui/upd_flow.h"

#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <algorithm>
#include <charconv>
#include <exception>
#include <filesystem>

#include "gui/display_text.h"
#include "gui/rules/report_files.h"
#include "gui/rules/texts.h"
#include "gui/unitmainform.h"
#include "platform/cp1251_literal.h"
#include "platform/text_trim.h"
#include "protocol/tv540v60upd.h"
#include "workers/uthreadextproc.h"
#include "workers/uthreadreadupdcatalog.h"

namespace calvix {

namespace text {
inline constexpr std::string_view kUpdAborted = W1251("Чтение данных из УПД прервано.");
inline constexpr std::string_view kCatalogMissing =
    W1251("Ошибка при чтении списка архивов из УПД.\r\nУПД не подключено или не исправно.");
inline constexpr std::string_view kNoArchiveChosen = W1251("Вы не выбрали ни одного архива.");
inline constexpr std::string_view kDownloadFailed = W1251("Ошибка при чтении данных из УПД.");
inline constexpr std::string_view kDownloadNoFile =
    W1251("Ошибка при чтении данных из УПД.\r\nНе найден файл данных.");
inline constexpr std::string_view kDownloadTimeZero = W1251("Общее время считывания: 0 мин 0 сек");
inline constexpr std::string_view kCatalogFile = "_katalog";
inline constexpr std::string_view kUpdDataFile = "dat";
}  // namespace text

namespace {

constexpr int kWaitMaximum = 600;

std::chrono::milliseconds gBudgetSecond{1000};
std::chrono::milliseconds gOpenPause{400};
std::chrono::milliseconds gAnswerPause{100};

// The archive number of a catalog line: the text before its first blank, trimmed, when it is a
// whole positive number.
std::string ArchiveNumber(const std::string& line) {
    const std::size_t blank = line.find(' ');
    if (blank == std::string::npos) {
        return {};
    }
    const std::string number(
        platform::TrimSpaceAndControl(std::string_view(line).substr(0, blank)));
    long value = 0;
    const char* end = number.data() + number.size();
    const auto [at, error] = std::from_chars(number.data(), end, value);
    if (error != std::errc() || at != end || value <= 0) {
        return {};
    }
    return number;
}

}  // namespace

void TUpdFlow::SetBudgetSecond(std::chrono::milliseconds second) {
    gBudgetSecond = second;
}

void TUpdFlow::SetCatalogPauses(std::chrono::milliseconds open, std::chrono::milliseconds answer) {
    gOpenPause = open;
    gAnswerPause = answer;
}

TUpdFlow::TUpdFlow(TMainForm& form) : form_(form) {
    QWidget* wait = form_.PanelWidget(Panel::Wait);
    lb1WaitTime_ = wait->findChild<QLabel*>(QStringLiteral("lb1WaitTime"));
    progressBarWait_ = wait->findChild<QProgressBar*>(QStringLiteral("ProgressBarWait"));
    if (auto* abort = wait->findChild<QPushButton*>(QStringLiteral("btReturnWait"))) {
        connect(abort, &QPushButton::clicked, this, [this] { btReturnWaitClick(); });
    }
    QWidget* select = form_.PanelWidget(Panel::SelectArchiv);
    listSelectArchiv_ = select->findChild<QListWidget*>(QStringLiteral("listSelectArchiv"));
    if (auto* next = select->findChild<QPushButton*>(QStringLiteral("btStartSA"))) {
        next->setEnabled(true);
        connect(next, &QPushButton::clicked, this, [this] { btStartSAClick(); });
    }
    form_.Hooks().startCatalogReader = [this] { return StartCatalogReader(); };
}

TUpdFlow::~TUpdFlow() {
    form_.Hooks().startCatalogReader = nullptr;
    // The window's main-thread caller is shut down by now, so the worker's calls return at once.
    worker_.Cancel();
    worker_.Join();
    // Its end is never reported now: the program it ran may have left part of an archive.
    if (downloading_) {
        RemoveDataFile();
    }
}

bool TUpdFlow::StartCatalogReader() {
    try {
        abortEvent_ = std::make_shared<platform::Event>(platform::Event::Kind::kManualReset);
        workers::CatalogSetup setup;
        setup.runOnMainThread = form_.MainThread();
        setup.workingFolder = form_.StartFolder();
        setup.openPause = gOpenPause;
        setup.answerPause = gAnswerPause;
        worker_ = workers::CThreadReadUPDCatalog::Start(
            form_.Config()->Connection().portNumber, workers::kCatalogBaud,
            workers::kCatalogTimeoutMs, std::string(text::kCatalogFile), &form_,
            [this](void*, const workers::CThreadReadUPDCatalog& reader, bool found) {
                CatalogDone(reader, found);
            },
            [this](void*, const workers::CThreadReadUPDCatalog& reader, bool) {
                CatalogProgress(reader);
            },
            abortEvent_, std::move(setup));
    } catch (const std::exception&) {
        abortEvent_.reset();
        return false;
    }
    return true;
}

void TUpdFlow::CatalogProgress(const workers::CThreadReadUPDCatalog& reader) {
    progressBarWait_->setValue(progressBarWait_->maximum() * reader.Counter() /
                               workers::kCatalogPorts);
    progressBarWait_->repaint();
    form_.PanelWidget(Panel::Wait)->repaint();
}

void TUpdFlow::CatalogDone(const workers::CThreadReadUPDCatalog& reader, bool found) {
    if (abortEvent_ != nullptr && TakeAbort()) {
        form_.HidePanel(Panel::Wait);
        form_.ShowErrorPanel(text::kUpdAborted, form_.PanelWidget(Panel::SelectMode));
    } else {
        CheckFileKatalog();
    }
    if (found) {
        ConnectionSettings& connection = form_.Config()->Connection();
        connection.portNumber = reader.PortNumber();
        connection.portName = "COM" + std::to_string(connection.portNumber);
        form_.Config()->SaveConnectionSettings(WorkState::stUpdReports);
    }
}

void TUpdFlow::CheckFileKatalog() {
    form_.HidePanel(Panel::Wait);
    listSelectArchiv_->clear();
    catalogLines_.clear();
    const std::filesystem::path catalog = ProgramPath(text::kCatalogFile, form_.StartFolder());
    std::error_code ec;
    if (!std::filesystem::is_regular_file(catalog, ec) || !LoadTextLines(catalog, catalogLines_)) {
        catalogLines_.clear();
    }
    for (const std::string& line : catalogLines_) {
        listSelectArchiv_->addItem(ToQt(line));
    }
    if (!catalogLines_.empty() && catalogLines_.front().compare(0, 3, "1 -") == 0) {
        listSelectArchiv_->setCurrentRow(listSelectArchiv_->count() - 1);
        listSelectArchiv_->scrollToBottom();
        form_.ShowPanel(Panel::SelectArchiv);
        form_.SetStatusText(text::kStatusHelp);
        listSelectArchiv_->setFocus();
        return;
    }
    form_.ShowErrorPanel(text::kCatalogMissing, form_.PanelWidget(Panel::SelectMode));
    form_.setWindowTitle(ToQt(text::kCaptionBack));
}

void TUpdFlow::btStartSAClick() {
    form_.HidePanel(Panel::SelectArchiv);
    RemoveDataFile();
    std::string archive;
    const int rows = std::min(listSelectArchiv_->count(), static_cast<int>(catalogLines_.size()));
    for (int row = 0; row < rows; ++row) {
        if (listSelectArchiv_->item(row)->isSelected()) {
            const std::string number = ArchiveNumber(catalogLines_[static_cast<std::size_t>(row)]);
            if (!number.empty()) {
                archive = number;
            }
        }
    }
    if (archive.empty()) {
        form_.ShowErrorPanel(text::kNoArchiveChosen, form_.PanelWidget(Panel::SelectArchiv));
        return;
    }
    const std::string command =
        "_file.bat " + archive + " " + std::to_string(form_.Config()->Connection().portNumber);
    try {
        abortEvent_ = std::make_shared<platform::Event>(platform::Event::Kind::kManualReset);
        workers::ExtProcSetup setup;
        setup.runOnMainThread = form_.MainThread();
        setup.workingFolder = form_.StartFolder();
        setup.second = gBudgetSecond;
        worker_ = workers::CThreadExtProc::StartList(
            command, abortEvent_,
            [this](void*, const workers::CThreadExtProc& runner) { DownloadProgress(runner); },
            [this](void*, bool succeeded) { DownloadDone(succeeded); }, &form_,
            workers::kDownloadBudgetSeconds, std::move(setup));
        downloading_ = true;
    } catch (const std::exception&) {
        abortEvent_.reset();
        form_.ShowErrorPanel(text::kDownloadFailed, form_.PanelWidget(Panel::SelectArchiv));
        return;
    }
    form_.findChild<QLabel*>(QStringLiteral("lb1Wait"))->setText(ToQt(text::kReadingUpd));
    lb1WaitTime_->setText(ToQt(text::kDownloadTimeZero));
    progressBarWait_->setRange(0, kWaitMaximum);
    progressBarWait_->setValue(0);
    form_.ShowPanel(Panel::Wait);
    form_.SetStatusText("");
}

void TUpdFlow::DownloadProgress(const workers::CThreadExtProc& runner) {
    lb1WaitTime_->setText(ToQt(runner.ElapsedText()));
    // The maximum first: a position above the old maximum would be refused.
    progressBarWait_->setMaximum(runner.Maximum());
    progressBarWait_->setValue(runner.Position());
}

void TUpdFlow::DownloadDone(bool succeeded) {
    downloading_ = false;
    form_.HidePanel(Panel::Wait);
    form_.SetStatusText(text::kStatusHelp);
    QWidget* archives = form_.PanelWidget(Panel::SelectArchiv);
    if (abortEvent_ != nullptr && TakeAbort()) {
        // A program killed half way may have left part of an archive behind.
        RemoveDataFile();
        form_.ShowErrorPanel(text::kUpdAborted, archives);
        return;
    }
    const std::filesystem::path data = ProgramPath(text::kUpdDataFile, form_.StartFolder());
    std::error_code ec;
    if (!succeeded) {
        RemoveDataFile();
        form_.ShowErrorPanel(text::kDownloadFailed, archives);
    } else if (!std::filesystem::is_regular_file(data, ec)) {
        form_.ShowErrorPanel(text::kDownloadNoFile, archives);
    } else {
        // A dump of another version stays as it came; a refused one is left untouched.
        protocol::CTV540v60Upd converter;
        (void)converter.ConvertDump(data, form_.Config()->Ini());
        form_.DataTaken(text::kUpdDataFile);
    }
}

void TUpdFlow::btReturnWaitClick() {
    if (abortEvent_ != nullptr) {
        abortEvent_->Set();
    }
}

bool TUpdFlow::TakeAbort() {
    const bool aborted = abortEvent_->IsSet();
    abortEvent_.reset();
    return aborted;
}

void TUpdFlow::RemoveDataFile() const {
    std::error_code ignored;
    std::filesystem::remove(ProgramPath(text::kUpdDataFile, form_.StartFolder()), ignored);
}

}  // namespace calvix
