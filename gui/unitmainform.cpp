#include "gui/unitmainform.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QStatusBar>
#include <QTextEdit>
#include <QUrl>
#include <algorithm>
#include <system_error>
#include <utility>

#include "gui/caption_panel.h"
#include "gui/dialog_service.h"
#include "gui/dialogs.h"
#include "gui/display_text.h"
#include "gui/form_controls.h"
#include "gui/rules/help_texts.h"
#include "gui/rules/layout_rules.h"
#include "gui/rules/report_files.h"
#include "gui/rules/texts.h"
#include "gui/workflows.h"
#include "platform/cp1251_literal.h"

namespace calvix {
namespace fs = std::filesystem;

namespace {

constexpr int kTitleHeight = 32;
// The designed sizes of the report choice and report list panels; both grow with the window.
constexpr int kReportWidth = 580;
constexpr int kReportHeight = 420;
constexpr int kViewWidth = 460;
constexpr int kViewHeight = 400;

void Place(QWidget* widget, const Box& box) {
    widget->setGeometry(box.left, box.top, box.width, box.height);
}

void SetCurrentFolder(const fs::path& folder) {
    if (folder.empty()) {
        return;
    }
    std::error_code ignored;
    fs::current_path(folder, ignored);
}

}  // namespace

TMainForm::TMainForm() : caller_(this) {
    setObjectName(QStringLiteral("TMainForm"));
    BuildForm();
    FormCreate();
    // The dialogs come after the main window, each created once and reused.
    aboutBox_ = std::make_unique<TAboutBox>();
    closeBox_ = std::make_unique<TCloseBox>();
    deleteBox_ = std::make_unique<TDeleteBox>();
    helpBox_ = std::make_unique<THelpBox>();
    printerBox_ = std::make_unique<TSelectPrinterBox>();
    if (!initFailed_) {
        workflows_ = MakeWorkflows(*this);
    }
    qApp->installEventFilter(this);
}

TMainForm::~TMainForm() {
    qApp->removeEventFilter(this);
    FormDestroy();
    // Their workers end at once now that the main-thread caller is shut down.
    workflows_.clear();
}

// ---------------------------------------------------------------------------------------------
// The form description.

void TMainForm::BuildForm() {
    setWindowTitle(ToQt(text::kAppTitle));
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowMinMaxButtonsHint);
    setMinimumSize(630, 460);
    setFont(QFont(QStringLiteral("MS Sans Serif"), 9));

    panMain_ = new QWidget(this);
    panMain_->setObjectName(QStringLiteral("panMain"));
    setCentralWidget(panMain_);
    statusBar()->setObjectName(QStringLiteral("StatusBar1"));
    statusBar()->setSizeGripEnabled(false);

    BuildSelectMode();
    BuildWait();
    BuildSelectArchiv();
    BuildReport();
    BuildViewReport();
    BuildText();
    BuildError();
    BuildHCWork();
    BuildHCPanels();
}

CaptionPanel* TMainForm::AddPanel(Panel panel, int width, int height, std::string_view title) {
    const std::string name(PanelName(panel));
    auto* widget = new CaptionPanel(panMain_, name.c_str(), width, height);
    panels_.emplace_back(panel, widget);
    if (!title.empty()) {
        auto* label = new QLabel(ToQt(title), widget);
        label->setObjectName(QStringLiteral("lbTop") + QString::fromStdString(name.substr(3)));
        QFont bold = label->font();
        bold.setPointSize(11);
        bold.setBold(true);
        label->setFont(bold);
        label->setAlignment(Qt::AlignCenter);
        label->setGeometry(0, 0, width, kTitleHeight);
    }
    return widget;
}

void TMainForm::Connect(QPushButton* button, void (TMainForm::*handler)()) {
    connect(button, &QPushButton::clicked, this, [this, handler] { (this->*handler)(); });
}

void TMainForm::Connect(QPushButton* button, NavButton navButton) {
    connect(button, &QPushButton::clicked, this, [this, navButton] { Navigate(navButton); });
}

void TMainForm::BuildSelectMode() {
    CaptionPanel* pan = AddPanel(Panel::SelectMode, 420, 330, text::kTitleSelectMode);
    constexpr int kLeft = 60;
    constexpr int kWidth = 300;
    Connect(AddButton(pan, "btUPDMode", text::kUPDMode, kLeft, 64, kWidth),
            &TMainForm::btUPDModeClick);
    Connect(AddButton(pan, "btMemoMode", text::kMemoMode, kLeft, 108, kWidth),
            &TMainForm::btMemoModeClick);
    Connect(AddButton(pan, "btTV540Mode", text::kTV540Mode, kLeft, 152, kWidth),
            &TMainForm::btTV540ModeClick);
    Connect(AddButton(pan, "btHCRukov", text::kHCRukov, kLeft, 196, kWidth),
            &TMainForm::btHCRukovClick);
    Connect(AddButton(pan, "btExitSM", text::kExit, kLeft, 266, kWidth), &TMainForm::CloseMainForm);
}

void TMainForm::BuildWait() {
    CaptionPanel* pan = AddPanel(Panel::Wait, 460, 220, text::kTitleWait);
    lb1Wait_ = AddLabel(pan, "lb1Wait", text::kReadingUpd, 30, 54);
    lb1Wait_->setGeometry(30, 54, 400, 20);
    lb1Wait_->setAlignment(Qt::AlignCenter);
    lb1WaitTime_ = AddLabel(pan, "lb1WaitTime", text::kReadingCatalog, 30, 80);
    lb1WaitTime_->setGeometry(30, 80, 400, 20);
    lb1WaitTime_->setAlignment(Qt::AlignCenter);
    progressBarWait_ = new QProgressBar(pan);
    progressBarWait_->setObjectName(QStringLiteral("ProgressBarWait"));
    progressBarWait_->setGeometry(30, 114, 400, 22);
    progressBarWait_->setRange(0, 600);
    progressBarWait_->setTextVisible(false);
    // "Прервать" belongs to the УПД road, which connects it.
    AddButton(pan, "btReturnWait", text::kAbort, 170, 164, 120);
}

void TMainForm::BuildSelectArchiv() {
    CaptionPanel* pan = AddPanel(Panel::SelectArchiv, 460, 400, text::kTitleSelectArchiv);
    AddLabel(pan, "lb1SA", text::kArchivesInUpd, 20, 44);
    listSelectArchiv_ = AddList(pan, "listSelectArchiv", 20, 66, 420, 230);
    AddLabel(pan, "lb2SA", text::kChooseArchive, 20, 306);
    // "Дальше" belongs to the УПД road, which connects it.
    AddButton(pan, "btStartSA", text::kNext, 20, 350, 120);
    Connect(AddButton(pan, "btReturnSA", text::kBack, 170, 350, 120), NavButton::btReturnSA);
    Connect(AddButton(pan, "btExitSA", text::kExit, 320, 350, 120), &TMainForm::CloseMainForm);
}

void TMainForm::BuildReport() {
    CaptionPanel* pan = AddPanel(Panel::Report, kReportWidth, kReportHeight, "");
    lbTopReport_ = new QLabel(pan);
    lbTopReport_->setObjectName(QStringLiteral("lbTopReport"));
    QFont bold = lbTopReport_->font();
    bold.setPointSize(11);
    bold.setBold(true);
    lbTopReport_->setFont(bold);
    lbTopReport_->setAlignment(Qt::AlignCenter);
    lbTopReport_->setGeometry(0, 0, 580, kTitleHeight);
    lbInfoReport_ = AddLabel(pan, "lbInfoReport", "", 20, 42);
    lbInfoReport_->setGeometry(20, 42, 540, 20);
    lb1R_ = AddLabel(pan, "lb1R", text::kListOther, 20, 42);
    lb1R_->setGeometry(20, 42, 540, 20);

    scrollBoxReport_ = new QScrollArea(pan);
    scrollBoxReport_->setObjectName(QStringLiteral("ScrollBoxReport"));
    scrollBoxReport_->setWidgetResizable(false);
    // Its check boxes take the focus; the box itself is no tab stop.
    scrollBoxReport_->setFocusPolicy(Qt::NoFocus);
    scrollBoxReport_->setGeometry(20, 90, 540, 220);
    scrollContent_ = new QWidget;
    scrollContent_->setObjectName(QStringLiteral("ScrollBoxReportContent"));
    scrollBoxReport_->setWidget(scrollContent_);
    scrollBoxReport_->viewport()->setAutoFillBackground(true);
    QPalette white = scrollBoxReport_->viewport()->palette();
    white.setColor(QPalette::Window, Qt::white);
    scrollBoxReport_->viewport()->setPalette(white);

    constexpr int kWidth = 125;
    constexpr int kRow1 = 326;
    constexpr int kRow2 = 368;
    btStartR_ = AddButton(pan, "btStartR", text::kNext, 20, kRow1, kWidth);
    Connect(btStartR_, &TMainForm::btStartRClick);
    btAllClearR_ = AddButton(pan, "btAllClearR", text::kAllClear, 158, kRow1, kWidth);
    Connect(btAllClearR_, &TMainForm::btAllClearRClick);
    btCalendarR_ = AddButton(pan, "btCalendarR", text::kCalendar, 296, kRow1, kWidth);
    Connect(btCalendarR_, NavButton::btCalendarR);
    btSeveralDaysR_ = AddButton(pan, "btSeveralDaysR", text::kSeveralDays, 434, kRow1, kWidth);
    Connect(btSeveralDaysR_, NavButton::btSeveralDaysR);
    btReturnR_ = AddButton(pan, "btReturnR", text::kBack, 296, kRow2, kWidth);
    Connect(btReturnR_, NavButton::btReturnR);
    btExitR_ = AddButton(pan, "btExitR", text::kExit, 434, kRow2, kWidth);
    Connect(btExitR_, &TMainForm::CloseMainForm);
}

void TMainForm::BuildViewReport() {
    CaptionPanel* pan =
        AddPanel(Panel::ViewReport, kViewWidth, kViewHeight, text::kTitleViewReport);
    listViewReport_ = AddList(pan, "listViewReport", 20, 44, 420, 290);
    connect(listViewReport_, &QListWidget::itemDoubleClicked, this,
            [this] { OpenSelectedReport(); });
    btStartVR_ = AddButton(pan, "btStartVR", text::kNext, 20, 350, 120);
    Connect(btStartVR_, &TMainForm::OpenSelectedReport);
    btReturnVR_ = AddButton(pan, "btReturnVR", text::kBack, 170, 350, 120);
    Connect(btReturnVR_, NavButton::btReturnVR);
    btReturnVR_->hide();
    btExitVR_ = AddButton(pan, "btExitVR", text::kExit, 320, 350, 120);
    Connect(btExitVR_, &TMainForm::CloseMainForm);
}

void TMainForm::BuildText() {
    CaptionPanel* pan = AddPanel(Panel::Text, 600, 400, "");
    lbTopText_ = new QLabel(ToQt(text::kTitleText), pan);
    lbTopText_->setObjectName(QStringLiteral("lbTopText"));
    QFont bold = lbTopText_->font();
    bold.setPointSize(11);
    bold.setBold(true);
    lbTopText_->setFont(bold);
    lbTopText_->setAlignment(Qt::AlignCenter);
    lbTopText_->setGeometry(0, 0, 600, kTitleHeight);

    // Placed by ResizeMainForm.
    auto add = [this, pan](const char* name, std::string_view caption) {
        return AddButton(pan, name, caption, 0, 0, 120);
    };
    text_.next = add("btNextText", text::kNextText);
    text_.selectReport = add("btSelectReportText", text::kSelectReportText);
    text_.save = add("btSaveText", text::kSaveText);
    text_.deleteOne = add("btDeleteText", text::kDeleteText);
    text_.back = add("btReturnText", text::kBack);
    text_.prev = add("btPrevText", text::kPrevText);
    text_.print = add("btPrintText", text::kPrintText);
    text_.saveAll = add("btSaveAllText", text::kSaveAllText);
    text_.deleteAll = add("btDeleteAllText", text::kDeleteAllText);
    text_.exit = add("btExitText", text::kExit);
    Connect(text_.next, &TMainForm::btNextTextClick);
    Connect(text_.selectReport, &TMainForm::btSelectReportTextClick);
    Connect(text_.back, NavButton::btReturnText);
    Connect(text_.prev, &TMainForm::btPrevTextClick);
    Connect(text_.exit, &TMainForm::CloseMainForm);
    // Saving, deleting and printing come with the report archive and printing work; until then
    // they show disabled, never as buttons that do nothing.
    for (QPushButton* later :
         {text_.save, text_.deleteOne, text_.print, text_.saveAll, text_.deleteAll}) {
        later->setEnabled(false);
    }

    mmText_ = new QTextEdit(pan);
    mmText_->setObjectName(QStringLiteral("mmText"));
    mmText_->setReadOnly(true);
    mmText_->setAcceptRichText(false);
    mmText_->setLineWrapMode(QTextEdit::NoWrap);
    mmText_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    mmText_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    mmText_->setFont(QFont(QStringLiteral("Courier New"), 10));
}

void TMainForm::BuildError() {
    CaptionPanel* pan = AddPanel(Panel::HCError, 460, 220, "");
    lbError_ = new QLabel(pan);
    lbError_->setObjectName(QStringLiteral("lbError"));
    lbError_->setTextFormat(Qt::PlainText);
    lbError_->setAlignment(Qt::AlignCenter);
    lbError_->setWordWrap(true);
    QFont bigger = lbError_->font();
    bigger.setPointSize(10);
    lbError_->setFont(bigger);
    lbError_->setGeometry(20, 30, 420, 110);
    btHCError_ = AddButton(pan, "btHCError", text::kNext, 170, 164, 120);
    Connect(btHCError_, &TMainForm::btHCErrorClick);
}

void TMainForm::BuildHCWork() {
    CaptionPanel* pan = AddPanel(Panel::HCWork, 480, 400, text::kTitleHCWork);
    AddLabel(pan, "lbHCCurSet", text::kHCCurSet, 30, 46);
    lbHCPortName_ = AddLabel(pan, "lbHCPortName", "", 50, 68);
    lbHCPortName_->setFixedWidth(400);
    lbHCPortSpeed_ = AddLabel(pan, "lbHCPortSpeed", "", 50, 88);
    lbHCPortSpeed_->setFixedWidth(400);
    lbUseModem_ = AddLabel(pan, "lbUseModem", "", 50, 108);
    lbUseModem_->setFixedWidth(400);
    lbUseModem_->hide();
    AddLabel(pan, "lbHCAbon", text::kHCAbon, 30, 142);
    edHCNumber_ = new QLineEdit(QStringLiteral("3"), pan);
    edHCNumber_->setObjectName(QStringLiteral("edHCNumber"));
    edHCNumber_->setMaxLength(3);
    edHCNumber_->setValidator(new QRegularExpressionValidator(
        QRegularExpression(QStringLiteral("[0-9]{0,3}")), edHCNumber_));
    edHCNumber_->setToolTip(ToQt(text::kHCAbonHint));
    edHCNumber_->setGeometry(110, 138, 60, 24);
    // The reading, settings, search and current-values work comes with the heat-calculator
    // workflow; disabled until then.
    AddButton(pan, "btHCRead", text::kHCRead, 30, 180, 420)->setEnabled(false);
    AddButton(pan, "btHCConfig", text::kHCConfig, 30, 216, 420)->setEnabled(false);
    AddButton(pan, "btHCAutoSearch", text::kHCAutoSearch, 30, 252, 420)->setEnabled(false);
    AddButton(pan, "btHCCurrent", text::kHCCurrent, 30, 288, 420)->setEnabled(false);
    Connect(AddButton(pan, "btHCBack", text::kBack, 30, 350, 200), NavButton::btHCBack);
    Connect(AddButton(pan, "btHCExit", text::kExit, 250, 350, 200), &TMainForm::CloseMainForm);
}

void TMainForm::BuildHCPanels() {
    AddPanel(Panel::HCConfig, 420, 300, text::kTitleHCConfig);
    AddPanel(Panel::HCAutoSearch, 480, 400, text::kTitleHCAutoSearch);
    AddPanel(Panel::HCErrorSearch, 360, 160, text::kTitleHCErrorSearch);
    AddPanel(Panel::HCCurrent, 600, 400, text::kTitleHCCurrent);
    AddPanel(Panel::HCWait, 460, 220, text::kTitleHCWait);
    AddPanel(Panel::HCQuestion, 460, 260, text::kTitleHCQuestion);

    CaptionPanel* date = AddPanel(Panel::HCDateSelect, 560, 400, text::kTitleHCDateSelect);
    AddLabel(date, "lbHCDateChoose", text::kDateChoose, 20, 44);
    AddLabel(date, "lbHCDateList", text::kDateList, 300, 44);
    lbHCDateSelected_ = AddList(date, "lbHCDateSelected", 300, 66, 240, 260);
    Connect(AddButton(date, "btHCDateBack", text::kBack, 280, 350, 125), NavButton::btHCDateBack);
    Connect(AddButton(date, "btHCDateExit", text::kExit, 415, 350, 125), &TMainForm::CloseMainForm);

    CaptionPanel* days = AddPanel(Panel::HCAnyDay, 580, 400, text::kTitleHCAnyDay);
    AddLabel(days, "lbHCBeginDate", text::kBeginDate, 20, 44);
    AddLabel(days, "lbHCEndDate", text::kEndDate, 300, 44);
    Connect(AddButton(days, "btHCAnyDayBack", text::kBack, 296, 350, 125),
            NavButton::btHCAnyDayBack);
    Connect(AddButton(days, "btHCAnyDayExit", text::kExit, 434, 350, 125),
            &TMainForm::CloseMainForm);

    AddPanel(Panel::HCReportWait, 460, 200, text::kTitleHCReportWait);
}

QWidget* TMainForm::PanelWidget(Panel panel) const {
    for (const auto& [id, widget] : panels_) {
        if (id == panel) {
            return widget;
        }
    }
    return nullptr;
}

void TMainForm::ShowPanel(Panel panel) {
    if (QWidget* widget = PanelWidget(panel)) {
        widget->show();
    }
}

void TMainForm::HidePanel(Panel panel) {
    if (QWidget* widget = PanelWidget(panel)) {
        widget->hide();
    }
}

// ---------------------------------------------------------------------------------------------
// Start and end.

void TMainForm::FormCreate() {
    try {
        startFolder_ = fs::current_path();
        for (std::string_view folder : {"txt\\", "hc\\txt\\"}) {
            // The builder writes its reports there; a working folder copied without its empty
            // folders must still give reports.
            std::error_code ignored;
            fs::create_directories(ProgramPath(folder, startFolder_), ignored);
            ClearTextFolder(startFolder_, folder);
        }
        MigrateMemoFolder(startFolder_);
        reportLines_.clear();
        createdReports_.clear();
        config_ = std::make_unique<Configuration>(ProgramPath("calvix.ini", startFolder_));
    } catch (const std::exception&) {
        DialogService::ShowMessage(nullptr, text::kInitFailed, text::kError, MessageIcon::Error);
        initFailed_ = true;
        return;
    }

    config_->LoadPrinterSettings();

    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect monitor = screen->geometry();
        const Box box = MainWindowGeometry(monitor.width(), monitor.height());
        resize(box.width, box.height);
        move(monitor.left() + box.left, monitor.top() + box.top);
    }

    panMain_->hide();
    for (Panel panel : {Panel::SelectMode, Panel::SelectArchiv, Panel::Report, Panel::ViewReport,
                        Panel::Text, Panel::Wait}) {
        HidePanel(panel);
    }
    askOnClose_ = true;
    ShowPanel(Panel::SelectMode);
    panMain_->show();
    ResizeMainForm();
}

void TMainForm::FormDestroy() {
    if (destroyed_) {
        return;
    }
    destroyed_ = true;
    caller_.Shutdown();
    SetCurrentFolder(startFolder_);
    if (config_) {
        SaveTemplateMarks();
        if (!config_->WriteToDisk()) {
            DialogService::ShowMessage(nullptr, text::kConfigSaveFailed, text::kError,
                                       MessageIcon::Error);
        }
        config_.reset();
    }
    FreeCheckBoxes();
    reportLines_.clear();
    reportCaptions_.clear();
    monthTemplates_.clear();
    createdReports_.clear();
}

void TMainForm::CloseMainForm() {
    close();
}

void TMainForm::closeEvent(QCloseEvent* event) {
    if (!askOnClose_) {
        event->accept();
        return;
    }
    if (DialogService::ShowModal(closeBox_.get()) == ModalResult::mrYes) {
        event->accept();
    } else {
        event->ignore();
    }
}

// ---------------------------------------------------------------------------------------------
// Panels and states.

void TMainForm::SetStatusText(std::string_view cp1251) {
    statusBar()->showMessage(ToQt(cp1251));
}

void TMainForm::ShowErrorPanel(std::string_view message, QWidget* returnPanel) {
    lbError_->setText(ToQt(message));
    static_cast<CaptionPanel*>(PanelWidget(Panel::HCError))->SetCaption("");
    returnPanel_ = returnPanel;
    ShowPanel(Panel::HCError);
    btHCError_->setFocus();
}

void TMainForm::ShowHCErrorCaption(std::string_view message, HCErrorReturn returnTo) {
    static_cast<CaptionPanel*>(PanelWidget(Panel::HCError))->SetCaption(message);
    hcReturnTo_ = returnTo;
    ShowPanel(Panel::HCError);
}

void TMainForm::btHCErrorClick() {
    HidePanel(Panel::HCError);
    if (returnPanel_ != nullptr) {
        returnPanel_->show();
        returnPanel_ = nullptr;
        return;
    }
    switch (hcReturnTo_) {
        case HCErrorReturn::HCAutoSearch:
            ShowPanel(Panel::HCAutoSearch);
            break;
        case HCErrorReturn::HCCurrent:
            ShowPanel(Panel::HCCurrent);
            break;
        case HCErrorReturn::HCWork:
            ShowPanel(Panel::HCWork);
            break;
    }
}

void TMainForm::Navigate(NavButton button) {
    const std::optional<Transition> row = FindTransition(button, workState_);
    if (!row) {
        return;
    }
    HidePanel(row->from);
    if (row->toState) {
        workState_ = *row->toState;
    }
    if (row->effects & kCaptionBack) {
        setWindowTitle(ToQt(text::kCaptionBack));
    }
    if (row->effects & kSaveTemplateMarks) {
        SaveTemplateMarks();
    }
    if (row->effects & kClearDateList) {
        lbHCDateSelected_->clear();
    }
    if (row->effects & kStartFolder) {
        SetCurrentFolder(startFolder_);
    }
    ShowPanel(row->to);
    if ((row->effects & kFocusList) && row->to == Panel::SelectArchiv) {
        listSelectArchiv_->setFocus();
    }
}

void TMainForm::btUPDModeClick() {
    workState_ = WorkState::stUpdReports;
    config_->LoadConnectionSettings(workState_);
    PanReportMode();
    setWindowTitle(ToQt(text::kCaptionUpd));
    SetStatusText("");
    HidePanel(Panel::SelectMode);
    std::error_code ignored;
    fs::remove(ProgramPath("_katalog", startFolder_), ignored);
    fs::remove(ProgramPath("dat", startFolder_), ignored);
    lb1Wait_->setText(ToQt(text::kReadingUpd));
    lb1WaitTime_->setText(ToQt(text::kReadingCatalog));
    progressBarWait_->setRange(0, 600);
    progressBarWait_->setValue(0);
    ShowPanel(Panel::Wait);
    if (!hooks_.startCatalogReader || !hooks_.startCatalogReader()) {
        HidePanel(Panel::Wait);
        ShowErrorPanel(text::kCatalogFailed, PanelWidget(Panel::SelectMode));
        setWindowTitle(ToQt(text::kCaptionBack));
    }
}

void TMainForm::btMemoModeClick() {
    workState_ = WorkState::stArchive;
    setWindowTitle(ToQt(text::kCaptionArchive));
    HidePanel(Panel::SelectMode);
    SetStatusText("");
    try {
        std::vector<ArchiveEntry> entries;
        const bool found = ListNameMemoCreate(startFolder_, entries);
        reportCaptions_.clear();
        archiveFiles_.clear();
        for (ArchiveEntry& entry : entries) {
            reportCaptions_.push_back(std::move(entry.title));
            archiveFiles_.push_back(std::move(entry.path));
        }
        if (!found) {
            ShowErrorPanel(text::kArchiveEmpty, PanelWidget(Panel::SelectMode));
            return;
        }
        PanReportMode();
        CheckBoxFileReport();
        lbInfoReport_->setText(QString());
        ShowPanel(Panel::Report);
        SetStatusText(text::kStatusHelp);
    } catch (const std::exception&) {
        ShowErrorPanel(text::kArchiveSearchFailed, PanelWidget(Panel::SelectMode));
    }
}

void TMainForm::btTV540ModeClick() {
    workState_ = WorkState::stHCReports;
    config_->LoadConnectionSettings(workState_);
    ShowConnectionSettings();
    PanReportMode();
    setWindowTitle(ToQt(text::kCaptionHC));
    SetStatusText("");
    HidePanel(Panel::SelectMode);
    ShowPanel(Panel::HCWork);
}

std::optional<int> TMainForm::TakeHCAddress() {
    bool isNumber = false;
    const int address = edHCNumber_->text().toInt(&isNumber);
    if (!isNumber || address < 1 || address > 255) {
        return std::nullopt;
    }
    ConnectionSettings& connection = config_->Connection();
    if (address != connection.abonent) {
        connection.abonent = address;
        config_->SaveConnectionSettings(WorkState::stHCReports);
    }
    return address;
}

void TMainForm::ShowConnectionSettings() {
    const ConnectionSettings& c = config_->Connection();
    lbHCPortName_->setText(ToQt(std::string(text::kPortPrefix) + c.portName));
    lbHCPortSpeed_->setText(ToQt(std::string(text::kSpeedPrefix) + std::to_string(c.portSpeed)));
    lbUseModem_->setText(ToQt(std::string(text::kModemPrefix) + c.phoneNumber + ")"));
    lbUseModem_->setVisible(c.useModem);
    edHCNumber_->setText(QString::number(c.abonent));
}

void TMainForm::btHCRukovClick() {
    const fs::path manual = ProgramPath(W1251("HC\\ведар_рп.doc"), startFolder_);
    std::error_code ec;
    if (fs::is_regular_file(manual, ec)) {
        QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(manual.string())));
        return;
    }
    HidePanel(Panel::SelectMode);
    ShowErrorPanel(W1251("Не найден файл hc\\ведар_рп.doc"), PanelWidget(Panel::SelectMode));
}

void TMainForm::PanReportMode() {
    const ReportPanelLayout layout =
        LayoutReportPanel(workState_, lbTopReport_->height(), lbInfoReport_->height(),
                          lb1R_->height(), btStartR_->y());
    lbInfoReport_->setVisible(layout.infoVisible);
    lbInfoReport_->move(lbInfoReport_->x(), layout.infoTop);
    lb1R_->move(lb1R_->x(), layout.listTitleTop);
    const bool archive = workState_ == WorkState::stArchive;
    btCalendarR_->setEnabled(!archive);
    btSeveralDaysR_->setEnabled(!archive);
    lbTopReport_->setText(ToQt(archive ? text::kTitleReportArchive : text::kTitleReportHC));
    btStartR_->setText(ToQt(archive ? text::kNext : text::kCreateReports));
    text_.save->setVisible(!archive);
    text_.saveAll->setVisible(!archive);
    text_.deleteOne->setVisible(archive);
    text_.deleteAll->setVisible(archive);
    PlaceReportList();
}

void TMainForm::PlaceReportList() {
    const ReportPanelLayout layout =
        LayoutReportPanel(workState_, lbTopReport_->height(), lbInfoReport_->height(),
                          lb1R_->height(), btStartR_->y());
    lbInfoReport_->move(lbInfoReport_->x(), layout.infoTop);
    lb1R_->move(lb1R_->x(), layout.listTitleTop);
    const int width = PanelWidget(Panel::Report)->width() - 2 * scrollBoxReport_->x();
    scrollBoxReport_->setGeometry(scrollBoxReport_->x(), layout.scrollTop, width,
                                  layout.scrollHeight);
    FitReportBoxes();
}

// The viewport's width once the vertical scroll bar, when the boxes need one, takes its place.
int TMainForm::ReportViewWidth() const {
    const QSize view = scrollBoxReport_->maximumViewportSize();
    if (verticalRange_ > view.height()) {
        return view.width() - scrollBoxReport_->verticalScrollBar()->sizeHint().width();
    }
    return view.width();
}

// Measured in the boxes' own font (the form's smaller font would leave long captions cut), and
// again once the period names have replaced the labels in the captions.
void TMainForm::MeasureReportBoxes() {
    widestCaption_ = 0;
    for (const QCheckBox* box : reportCheckBoxes_) {
        const QFontMetrics metrics(box->font());
        widestCaption_ =
            std::max(widestCaption_, metrics.horizontalAdvance(ToQt(CheckBoxCaption(box))));
    }
    FitReportBoxes();
}

// Boxes as wide as the view; wider, with a horizontal range, only when a caption would be cut.
void TMainForm::FitReportBoxes() {
    const int view = ReportViewWidth();
    const int needed = widestCaption_ + 40;
    horizontalRange_ = needed > view ? needed : 0;
    const int boxWidth = horizontalRange_ > 0 ? horizontalRange_ : view;
    for (QCheckBox* box : reportCheckBoxes_) {
        box->resize(boxWidth, kCheckBoxStep);
    }
    UpdateScrollContent();
}

void TMainForm::LayoutReportControls() {
    QWidget* pan = PanelWidget(Panel::Report);
    const int width = pan->width();
    const int row2 = pan->height() - 52;
    const int row1 = row2 - 42;
    lbTopReport_->setGeometry(0, 0, width, kTitleHeight);
    lbInfoReport_->resize(width - 40, lbInfoReport_->height());
    lb1R_->resize(width - 40, lb1R_->height());
    const int right = width - 20;
    const int buttonWidth = btStartR_->width();
    QPushButton* upper[] = {btStartR_, btAllClearR_, btCalendarR_, btSeveralDaysR_};
    for (int i = 0; i < 4; ++i) {
        upper[i]->move(ColumnLeft(20, right, buttonWidth, 4, i), row1);
    }
    btReturnR_->move(ColumnLeft(20, right, buttonWidth, 4, 2), row2);
    btExitR_->move(ColumnLeft(20, right, buttonWidth, 4, 3), row2);
    PlaceReportList();
}

void TMainForm::LayoutViewReportControls() {
    QWidget* pan = PanelWidget(Panel::ViewReport);
    const int width = pan->width();
    const int row = pan->height() - 50;
    if (auto* title = pan->findChild<QLabel*>(QStringLiteral("lbTopViewReport"))) {
        title->setGeometry(0, 0, width, kTitleHeight);
    }
    listViewReport_->setGeometry(20, 44, width - 40, row - 16 - 44);
    const int buttonWidth = btStartVR_->width();
    QPushButton* row3[] = {btStartVR_, btReturnVR_, btExitVR_};
    for (int i = 0; i < 3; ++i) {
        row3[i]->move(ColumnLeft(20, width - 20, buttonWidth, 3, i), row);
    }
}

// ---------------------------------------------------------------------------------------------
// Report check boxes.

void TMainForm::FreeCheckBoxes() {
    std::vector<QCheckBox*> boxes;
    boxes.swap(reportCheckBoxes_);
    for (QCheckBox* box : boxes) {
        box->hide();
        delete box;
    }
}

void TMainForm::UpdateScrollContent() {
    // The viewport's size from the scroll box's own geometry, also before it was laid out.
    const QSize view = scrollBoxReport_->maximumViewportSize();
    scrollContent_->resize(horizontalRange_ > 0 ? horizontalRange_ : ReportViewWidth(),
                           verticalRange_ > 0 ? verticalRange_ : view.height());
}

void TMainForm::LoadTemplateList(const std::string& section) {
    SaveTemplateMarks();
    templateSection_ = section;
    const TemplateList list = config_->ReadTemplateList(section);
    monthTemplates_ = list.templates;
    reportCaptions_ = list.captions;
}

void TMainForm::SaveTemplateMarks() {
    if (workState_ == WorkState::stArchive || !checkBoxListCreated_ || templateSection_.empty() ||
        !config_) {
        return;
    }
    std::vector<TemplateMark> marks;
    for (QCheckBox* box : reportCheckBoxes_) {
        marks.push_back({ReportCheckBoxTag(box), box->isChecked()});
    }
    config_->WriteTemplateMarks(templateSection_, monthTemplates_, marks);
    FreeCheckBoxes();
    templateSection_.clear();
}

void TMainForm::CheckBoxFileReport() {
    std::string_view title = text::kListOther;
    if (workState_ == WorkState::stUpdReports) {
        title = text::kListUpd;
    } else if (workState_ == WorkState::stHCReports) {
        title = text::kListHC;
    } else if (workState_ == WorkState::stArchive) {
        title = text::kListArchive;
    }
    lb1R_->setText(ToQt(title));
    if (workState_ != WorkState::stArchive) {
        LoadTemplateList(config_->Templates().templateList);
    }

    FreeCheckBoxes();
    checkBoxListCreated_ = true;
    horizontalRange_ = 0;
    verticalRange_ = 0;

    const int count = static_cast<int>(reportCaptions_.size());
    for (int i = 0; i < count; ++i) {
        bool selected = false;
        if (workState_ != WorkState::stArchive) {
            reportCaptions_[i] = StripSelectedMark(reportCaptions_[i], &selected);
        }
        reportCheckBoxes_.push_back(AddReportCheckBox(
            scrollContent_, QStringLiteral("ReportCheckBox%1").arg(i), reportCaptions_[i],
            static_cast<std::size_t>(i), i, ReportViewWidth(), selected));
    }
    if (count > 1) {
        verticalRange_ = kCheckBoxStep * count;
    }
    MeasureReportBoxes();
    OrderTabsByScreen(PanelWidget(Panel::Report));
    scrollBoxReport_->verticalScrollBar()->setValue(0);
    scrollBoxReport_->horizontalScrollBar()->setValue(0);
}

void TMainForm::HandleCheckBoxFocus(QCheckBox* box, bool entering) {
    const auto it = std::find(reportCheckBoxes_.begin(), reportCheckBoxes_.end(), box);
    if (it == reportCheckBoxes_.end()) {
        return;
    }
    const std::size_t index = static_cast<std::size_t>(it - reportCheckBoxes_.begin());
    const std::size_t count = reportCheckBoxes_.size();
    BoxRole role = BoxRole::Middle;
    if (index == 0) {
        role = BoxRole::First;
    } else if (index == count - 1) {
        role = BoxRole::Last;
    }
    if (!entering) {
        focusWrap_.Leave(role);
        return;
    }
    KeepBoxInView(box);
    if (role == BoxRole::Middle) {
        return;
    }
    QCheckBox* last = reportCheckBoxes_.back();
    const QWidget* view = scrollBoxReport_->viewport();
    const bool scrolledDown = scrollBoxReport_->verticalScrollBar()->value() > 0;
    const bool lastBelowView = last->mapTo(view, QPoint(0, 0)).y() > view->height() - kCheckBoxStep;
    switch (focusWrap_.Enter(role, scrolledDown, lastBelowView)) {
        case CheckBoxFocusWrap::Move::ToLast:
            last->setFocus(Qt::OtherFocusReason);
            break;
        case CheckBoxFocusWrap::Move::ToFirst:
            reportCheckBoxes_.front()->setFocus(Qt::OtherFocusReason);
            break;
        case CheckBoxFocusWrap::Move::Stay:
            break;
    }
}

std::string TMainForm::CheckBoxCaption(const QCheckBox* box) {
    return ReportCheckBoxCaption(box);
}

std::size_t TMainForm::CheckBoxTag(const QCheckBox* box) {
    return ReportCheckBoxTag(box);
}

bool TMainForm::RemoveReportCheckBox(std::string_view caption) {
    for (std::size_t i = reportCheckBoxes_.size(); i-- > 0;) {
        QCheckBox* box = reportCheckBoxes_[i];
        if (CheckBoxCaption(box) != caption) {
            continue;
        }
        for (std::size_t later = reportCheckBoxes_.size() - 1; later > i; --later) {
            reportCheckBoxes_[later]->move(0, reportCheckBoxes_[later - 1]->y());
        }
        reportCheckBoxes_.erase(reportCheckBoxes_.begin() + static_cast<std::ptrdiff_t>(i));
        box->hide();
        box->deleteLater();
        verticalRange_ = kCheckBoxStep * static_cast<int>(reportCheckBoxes_.size());
        UpdateScrollContent();
        return true;
    }
    return false;
}

// Arrow keys step through the report check boxes; the list scrolls up or down, never sideways.
bool TMainForm::MoveBoxFocus(QCheckBox* box, int step) {
    const auto it = std::find(reportCheckBoxes_.begin(), reportCheckBoxes_.end(), box);
    if (it == reportCheckBoxes_.end()) {
        return false;
    }
    const auto index = (it - reportCheckBoxes_.begin()) + step;
    if (index >= 0 && index < static_cast<std::ptrdiff_t>(reportCheckBoxes_.size())) {
        reportCheckBoxes_[static_cast<std::size_t>(index)]->setFocus(Qt::TabFocusReason);
    }
    return true;
}

// Scrolls the list vertically so that the box is in view. The scroll box's own way of showing a
// focused child would also centre a box wider than the view sideways: that move is undone.
void TMainForm::KeepBoxInView(const QCheckBox* box) {
    QScrollBar* vertical = scrollBoxReport_->verticalScrollBar();
    const int viewHeight = scrollBoxReport_->viewport()->height();
    if (box->y() < vertical->value()) {
        vertical->setValue(box->y());
    } else if (box->y() + box->height() > vertical->value() + viewHeight) {
        vertical->setValue(box->y() + box->height() - viewHeight);
    }
    QScrollBar* horizontal = scrollBoxReport_->horizontalScrollBar();
    const int keep = horizontal->value();
    QMetaObject::invokeMethod(
        horizontal, [horizontal, keep] { horizontal->setValue(keep); }, Qt::QueuedConnection);
}

void TMainForm::btAllClearRClick() {
    for (QCheckBox* box : reportCheckBoxes_) {
        box->setChecked(false);
        PaintReportCheckBox(box);
    }
}

void TMainForm::SetDeviceInfo(std::string_view title, std::string_view address, int version) {
    deviceTitle_ = title;
    addressText_ = address;
    deviceVersion_ = version;
}

void TMainForm::DataTaken(std::string_view dataFile) {
    if (hooks_.inspectDataFile) {
        hooks_.inspectDataFile(dataFile);
    }
    config_->LoadTemplateSettings(deviceVersion_);
    CheckBoxFileReport();
    if (hooks_.afterReportBoxes) {
        hooks_.afterReportBoxes();
    }
    if (hooks_.severalDayBoxes) {
        hooks_.severalDayBoxes();
    }
    MeasureReportBoxes();
    lbInfoReport_->setText(ToQt(std::string(text::kAddress) + addressText_));
    ShowPanel(Panel::Report);
    SetStatusText(text::kStatusHelp);
}

// ---------------------------------------------------------------------------------------------
// Reports.

void TMainForm::btStartRClick() {
    if (workState_ == WorkState::stArchive) {
        HidePanel(Panel::Report);
        SetStatusText("");
        std::vector<QCheckBox*> checked;
        for (QCheckBox* box : reportCheckBoxes_) {
            if (box->isChecked()) {
                checked.push_back(box);
            }
        }
        if (checked.empty()) {
            ShowErrorPanel(text::kNoReportChosen, PanelWidget(Panel::Report));
            return;
        }
        std::vector<std::string> paths;
        std::vector<std::string> captions;
        for (QCheckBox* box : checked) {
            captions.push_back(CheckBoxCaption(box));
            // The file's real name: one that escaping the title would not give still opens.
            const std::size_t tag = CheckBoxTag(box);
            paths.push_back(tag < archiveFiles_.size() ? archiveFiles_[tag]
                                                       : ArchiveReportPath(captions.back()));
        }
        SetCreatedReports(std::move(paths), captions);
        OpenReport(createdReports_.front());
        listViewReport_->setCurrentRow(0);
        return;
    }
    if (workState_ == WorkState::stUpdReports || workState_ == WorkState::stHCReports) {
        if (hooks_.createReports) {
            hooks_.createReports();
            return;
        }
        HidePanel(Panel::Report);
        SetStatusText("");
        const bool any = std::any_of(reportCheckBoxes_.begin(), reportCheckBoxes_.end(),
                                     [](const QCheckBox* box) { return box->isChecked(); });
        ShowErrorPanel(any ? text::kReportCreationFailed : text::kNoReportChosen,
                       PanelWidget(Panel::Report));
        return;
    }
    ShowPanel(Panel::Report);
}

void TMainForm::ShowMemoMessage(std::string_view cp1251) {
    QFont font = mmText_->font();
    font.setPointSize(14);
    mmText_->setFont(font);
    mmText_->setPlainText(ToQt(cp1251));
    mmText_->selectAll();
    mmText_->setAlignment(Qt::AlignHCenter);
    mmText_->moveCursor(QTextCursor::Start);
}

void TMainForm::OpenReport(std::string_view path) {
    SetCurrentFolder(startFolder_);
    QFont courier(QStringLiteral("Courier New"));
    courier.setStyleHint(QFont::TypeWriter);
    mmText_->setFont(courier);
    try {
        fs::path file;
        std::error_code ec;
        if (!path.empty()) {
            file = ProgramPath(path, startFolder_);
            if (!fs::exists(file, ec)) {
                file.clear();
            }
        }
        if (file.empty()) {
            ShowMemoMessage(text::kReportNotFound);
        } else if (!LoadTextLines(file, reportLines_)) {
            ShowMemoMessage(text::kReportReadFailed);
        } else if (ReportHasTable(reportLines_)) {
            if (workState_ != WorkState::stArchive && hooks_.correctReport) {
                hooks_.correctReport(reportLines_);
            }
            courier.setPointSize(10);
            mmText_->setFont(courier);
            std::string joined;
            for (const std::string& line : reportLines_) {
                joined += line;
                joined += '\n';
            }
            if (!joined.empty()) {
                joined.pop_back();
            }
            mmText_->setPlainText(ToQt(joined));
            mmText_->selectAll();
            mmText_->setAlignment(Qt::AlignLeft);
            mmText_->moveCursor(QTextCursor::Start);
        } else {
            ShowMemoMessage(text::kReportEmpty);
        }
    } catch (const std::exception&) {
        ShowMemoMessage(text::kReportReadFailed);
    }
    ShowPanel(Panel::Text);
}

void TMainForm::SetCreatedReports(std::vector<std::string> paths,
                                  const std::vector<std::string>& captions) {
    createdReports_ = std::move(paths);
    listViewReport_->clear();
    for (const std::string& caption : captions) {
        auto* item = new QListWidgetItem(ToQt(caption), listViewReport_);
        item->setData(Qt::UserRole, QByteArray::fromStdString(caption));
    }
}

void TMainForm::RemoveCreatedReport(int index) {
    if (index < 0) {
        return;
    }
    delete listViewReport_->takeItem(index);
    if (static_cast<std::size_t>(index) < createdReports_.size()) {
        createdReports_.erase(createdReports_.begin() + index);
    }
}

void TMainForm::OpenSelectedReport() {
    if (listViewReport_->count() == 0) {
        return;
    }
    int index = listViewReport_->currentRow();
    if (index < 0) {
        index = 0;
    }
    if (static_cast<std::size_t>(index) < createdReports_.size()) {
        HidePanel(Panel::ViewReport);
        OpenReport(createdReports_[static_cast<std::size_t>(index)]);
    }
}

void TMainForm::btNextTextClick() {
    if (const auto next =
            NextReportIndex(listViewReport_->currentRow(), listViewReport_->count())) {
        listViewReport_->setCurrentRow(*next);
        OpenSelectedReport();
    }
}

void TMainForm::btPrevTextClick() {
    if (const auto previous = PreviousReportIndex(listViewReport_->currentRow())) {
        listViewReport_->setCurrentRow(*previous);
        OpenSelectedReport();
    }
}

void TMainForm::btSelectReportTextClick() {
    const int top = ViewReportTopIndex(listViewReport_->currentRow());
    if (QListWidgetItem* item = listViewReport_->item(top)) {
        listViewReport_->scrollToItem(item, QAbstractItemView::PositionAtTop);
    }
    HidePanel(Panel::Text);
    ShowPanel(Panel::ViewReport);
    listViewReport_->setFocus();
}

// ---------------------------------------------------------------------------------------------
// Layout, keys and help.

void TMainForm::ResizeMainForm() {
    const int width = panMain_->width();
    const int height = panMain_->height();
    for (const auto& [id, panel] : panels_) {
        if (id == Panel::Text) {
            continue;
        }
        if (id == Panel::Report || id == Panel::ViewReport) {
            const Box design = id == Panel::Report ? Box{0, 0, kReportWidth, kReportHeight}
                                                   : Box{0, 0, kViewWidth, kViewHeight};
            Place(panel, GrowListPanel(width, height, design.width, design.height));
            continue;
        }
        const Box box = PanelCenter(width, height, panel->width(), panel->height());
        panel->move(box.left, box.top);
    }
    LayoutReportControls();
    LayoutViewReportControls();
    TextWindowInput in;
    in.mainWidth = width;
    in.mainHeight = height;
    in.titleHeight = lbTopText_->height();
    in.buttonHeight = kButtonHeight;
    in.nextWidth = text_.next->width();
    in.selectWidth = text_.selectReport->width();
    in.saveWidth = text_.save->width();
    in.saveAllWidth = text_.saveAll->width();
    in.returnWidth = text_.back->width();
    const TextWindowLayout layout = PanTextCenter(in);
    Place(PanelWidget(Panel::Text), layout.panel);
    lbTopText_->setGeometry(0, 0, layout.panel.width, lbTopText_->height());
    const struct {
        QPushButton* upper;
        QPushButton* lower;
        int left;
    } columns[] = {
        {text_.next, text_.prev, layout.nextLeft},
        {text_.selectReport, text_.print, layout.selectLeft},
        {text_.save, text_.saveAll, layout.saveLeft},
        {text_.deleteOne, text_.deleteAll, layout.saveLeft},
        {text_.back, text_.exit, layout.returnLeft},
    };
    for (const auto& column : columns) {
        column.upper->move(column.left, layout.firstRowTop);
        column.lower->move(column.left, layout.secondRowTop);
    }
    Place(mmText_, layout.memo);
}

bool TMainForm::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
        case QEvent::Resize:
            if (watched == panMain_) {
                ResizeMainForm();
            }
            break;
        case QEvent::KeyPress: {
            auto* widget = qobject_cast<QWidget*>(watched);
            if (widget == nullptr || widget->window() != this) {
                break;
            }
            auto* key = static_cast<QKeyEvent*>(event);
            if (HandleKey(key)) {
                return true;
            }
            if (auto* box = qobject_cast<QCheckBox*>(watched);
                box != nullptr && key->modifiers() == Qt::NoModifier) {
                const int k = key->key();
                if ((k == Qt::Key_Up || k == Qt::Key_Left) && MoveBoxFocus(box, -1)) {
                    return true;
                }
                if ((k == Qt::Key_Down || k == Qt::Key_Right) && MoveBoxFocus(box, +1)) {
                    return true;
                }
            }
            break;
        }
        case QEvent::FocusIn:
        case QEvent::FocusOut:
            if (auto* box = qobject_cast<QCheckBox*>(watched)) {
                HandleCheckBoxFocus(box, event->type() == QEvent::FocusIn);
            }
            break;
        case QEvent::Show:
            if (auto* panel = qobject_cast<QWidget*>(watched);
                panel != nullptr && panel->parentWidget() == panMain_) {
                OrderTabsByScreen(panel);
            }
            break;
        default:
            break;
    }
    return QMainWindow::eventFilter(watched, event);
}

bool TMainForm::HandleKey(QKeyEvent* event) {
    const Qt::KeyboardModifiers modifiers = event->modifiers() & ~Qt::KeypadModifier;
    const int key = event->key();
    if (modifiers == Qt::ControlModifier && key == Qt::Key_A) {
        aboutBox_->SetAboutMode();
        DialogService::ShowModal(aboutBox_.get());
        return true;
    }
    if (modifiers == Qt::NoModifier && key == Qt::Key_F1) {
        HelpF1();
        return true;
    }
    if (modifiers == Qt::NoModifier && key == Qt::Key_F2) {
        if (isMaximized()) {
            showNormal();
        } else {
            showMaximized();
        }
        return true;
    }
    if (modifiers == Qt::ControlModifier && key == Qt::Key_B) {
        if (!PanelWidget(Panel::Text)->isHidden() || !PanelWidget(Panel::HCCurrent)->isHidden()) {
            DialogService::ShowModal(printerBox_.get());
        }
        return true;
    }
    return false;
}

void TMainForm::HelpF1() {
    const std::string help = HelpTextFor(
        [this](Panel panel) {
            const QWidget* widget = PanelWidget(panel);
            return widget != nullptr && !widget->isHidden();
        },
        workState_);
    if (help.empty()) {
        return;
    }
    helpBox_->SetText(help);
    DialogService::ShowModal(helpBox_.get());
}

}  // namespace calvix
