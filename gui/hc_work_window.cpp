#include "gui/hc_work_window.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMetaObject>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <chrono>
#include <optional>
#include <thread>
#include <utility>

#include "gui/display_text.h"
#include "gui/form_controls.h"
#include "gui/rules/texts.h"
#include "gui/unitmainform.h"
#include "platform/cp1251_literal.h"

namespace calvix {

namespace text {
// Not inline: each workflow keeps its texts to itself.
constexpr std::string_view kComPort = W1251("COM-порт");
constexpr std::string_view kPortSpeed = W1251("Скорость обмена");
constexpr std::string_view kUseModem = W1251("Чтение данных через модем");
constexpr std::string_view kPhoneNumber = W1251("Номер телефона");
constexpr std::string_view kSearchBegin = W1251("Начальный адрес поиска");
constexpr std::string_view kSearchEnd = W1251("Конечный адрес поиска");
constexpr std::string_view kSearchNet = W1251("Поиск в сети");
constexpr std::string_view kSearchNetHint = W1251("Исключить из поиска адрес 3");
constexpr std::string_view kSearchStop = W1251("Стоп");
constexpr std::string_view kSearchShow = W1251("Ведется поиск абонента: ");
constexpr std::string_view kSearchFound = W1251("Найдено абонентов:");
constexpr std::string_view kPortOpenError = W1251("Ошибка открытия порта");
constexpr std::string_view kThreadError = W1251("Ошибка создания потока");
constexpr std::string_view kDeviceFaulty = W1251("Тепловычислитель не подключен или неисправен");
}  // namespace text

namespace {

constexpr int kEditHeight = 24;
constexpr auto kStopGrace = std::chrono::milliseconds(500);
constexpr auto kStopWait = std::chrono::milliseconds(3000);
constexpr const char* kPorts[] = {"COM1", "COM2", "COM3", "COM4", "COM5", "COM6", "COM7", "COM8"};
constexpr const char* kSpeeds[] = {"1200",  "2400",  "4800",  "9600",
                                   "19200", "38400", "57600", "115200"};
constexpr long kSlowestSpeed = 1200;
constexpr long kFastestSpeed = 115200;

QComboBox* AddCombo(QWidget* parent, const char* name, const auto& items, int left, int top) {
    auto* combo = new QComboBox(parent);
    combo->setObjectName(QString::fromLatin1(name));
    // The operator may type a value as well as pick one; typing adds no item.
    combo->setEditable(true);
    combo->setInsertPolicy(QComboBox::NoInsert);
    for (const char* item : items) {
        combo->addItem(QString::fromLatin1(item));
    }
    combo->setGeometry(left, top, 180, kEditHeight);
    return combo;
}

// Only digits, at most three: the address fields.
QLineEdit* AddAddressEdit(QWidget* parent, const char* name, const char* text, int left, int top) {
    auto* edit = new QLineEdit(QString::fromLatin1(text), parent);
    edit->setObjectName(QString::fromLatin1(name));
    edit->setMaxLength(3);
    edit->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]{0,3}")), edit));
    edit->setGeometry(left, top, 60, kEditHeight);
    return edit;
}

// A speed as the operator typed it: decimal digits only.
std::optional<long> ParseSpeed(const QString& text) {
    bool ok = false;
    const QString trimmed = text.trimmed();
    const long value = trimmed.toLong(&ok);
    if (!ok || trimmed.isEmpty() || !trimmed.front().isDigit()) {
        return std::nullopt;
    }
    return value;
}

std::optional<int> AddressOf(const QLineEdit* edit) {
    bool ok = false;
    const int value = edit->text().toInt(&ok);
    return ok ? std::optional<int>(value) : std::nullopt;
}

}  // namespace

// Hands every report of the search thread to the window on the GUI thread: the toolkit allows
// widgets to be touched only there, and the search must never wait for the window.
class THCWorkWindow::PostingView : public SearchView {
  public:
    PostingView(THCWorkWindow* window, unsigned search) : window_(window), search_(search) {}

    void PortOpenFailed(const std::string& detail) override {
        Post([w = window_, s = search_, detail] { w->OnPortOpenFailed(s, detail); });
    }
    void ShowAddress(int address) override {
        Post([w = window_, s = search_, address] { w->OnShowAddress(s, address); });
    }
    void Found(const std::string& text, int count) override {
        Post([w = window_, s = search_, text, count] { w->OnFound(s, text, count); });
    }
    void FaultyDevice() override { Post(&THCWorkWindow::OnFaultyDevice); }
    void Finished() override { Post(&THCWorkWindow::OnFinished); }
    void WriteFailed() override { Post(&THCWorkWindow::OnWriteFailed); }
    void ReadFailed() override { Post(&THCWorkWindow::OnReadFailed); }

  private:
    void Post(void (THCWorkWindow::*handler)(unsigned)) {
        Post([w = window_, s = search_, handler] { (w->*handler)(s); });
    }
    template <class Call>
    void Post(Call call) {
        // Posted to the window: calls still queued when it goes away are dropped with it.
        QMetaObject::invokeMethod(window_, std::move(call), Qt::QueuedConnection);
    }

    THCWorkWindow* window_;
    unsigned search_;
};

THCWorkWindow::THCWorkWindow(TMainForm& form) : form_(form) {
    edHCNumber_ = form_.findChild<QLineEdit*>(QStringLiteral("edHCNumber"));
    BuildConfig();
    BuildAutoSearch();
    BuildErrorSearch();
    auto* config = form_.findChild<QPushButton*>(QStringLiteral("btHCConfig"));
    auto* autoSearch = form_.findChild<QPushButton*>(QStringLiteral("btHCAutoSearch"));
    config->setEnabled(true);
    autoSearch->setEnabled(true);
    connect(config, &QPushButton::clicked, this, [this] { btHCConfigClick(); });
    connect(autoSearch, &QPushButton::clicked, this, [this] { btHCAutoSearchClick(); });
}

THCWorkWindow::~THCWorkWindow() {
    search_.RequestStop();
}

void THCWorkWindow::BuildConfig() {
    QWidget* pan = form_.PanelWidget(Panel::HCConfig);
    AddLabel(pan, "lbHCComPortCaption", text::kComPort, 40, 58);
    cbHCComPort_ = AddCombo(pan, "cbHCComPort", kPorts, 200, 54);
    AddLabel(pan, "lbHCPortSpeedCaption", text::kPortSpeed, 40, 98);
    cbHCPortSpeed_ = AddCombo(pan, "cbHCPortSpeed", kSpeeds, 200, 94);
    cbUseModem_ = new QCheckBox(ToQt(text::kUseModem), pan);
    cbUseModem_->setObjectName(QStringLiteral("cbUseModem"));
    cbUseModem_->setGeometry(40, 136, 340, 24);
    AddLabel(pan, "lbPhoneNumberCaption", text::kPhoneNumber, 40, 178);
    edPhoneNumber_ = new QLineEdit(pan);
    edPhoneNumber_->setObjectName(QStringLiteral("edPhoneNumber"));
    edPhoneNumber_->setGeometry(200, 174, 180, kEditHeight);
    connect(AddButton(pan, "btHCParamOK", text::kNext, 150, 240, 120), &QPushButton::clicked, this,
            [this] { btHCParamOKClick(); });
}

void THCWorkWindow::BuildAutoSearch() {
    QWidget* pan = form_.PanelWidget(Panel::HCAutoSearch);
    AddLabel(pan, "lbHCBegin", text::kSearchBegin, 30, 52);
    edHCBegin_ = AddAddressEdit(pan, "edHCBegin", "1", 260, 48);
    AddLabel(pan, "lbHCEnd", text::kSearchEnd, 30, 84);
    edHCEnd_ = AddAddressEdit(pan, "edHCEnd", "255", 260, 80);
    cbHCNet_ = new QCheckBox(ToQt(text::kSearchNet), pan);
    cbHCNet_->setObjectName(QStringLiteral("cbHCNet"));
    cbHCNet_->setToolTip(ToQt(text::kSearchNetHint));
    cbHCNet_->setGeometry(30, 112, 300, 24);
    lbHCSearchShow_ = AddLabel(pan, "lbHCSearchShow", text::kSearchShow, 30, 146);
    lbHCSearchNumber_ = AddLabel(pan, "lbHCSearchNumber", "0", 260, 146);
    lbHCSearchNumber_->setFixedWidth(60);
    lbHCAutoFound_ = AddLabel(pan, "lbHCAutoFound", text::kSearchFound, 30, 170);
    lbHCAbonentFinded_ = AddLabel(pan, "lbHCAbonentFinded", "0", 260, 170);
    lbHCAbonentFinded_->setFixedWidth(60);
    for (QLabel* label : {lbHCSearchShow_, lbHCSearchNumber_, lbHCAutoFound_, lbHCAbonentFinded_}) {
        label->hide();
    }
    lbHCFinded_ = new QListWidget(pan);
    lbHCFinded_->setObjectName(QStringLiteral("lbHCFinded"));
    lbHCFinded_->setGeometry(30, 196, 420, 140);
    btHCStartSearch_ = AddButton(pan, "btHCStartSearch", text::kStart, 30, 350, 130);
    btHCStopSearch_ = AddButton(pan, "btHCStopSearch", text::kSearchStop, 175, 350, 130);
    btHCStopSearch_->setEnabled(false);
    auto* back = AddButton(pan, "btHCAutoBack", text::kBack, 320, 350, 130);
    connect(btHCStartSearch_, &QPushButton::clicked, this, [this] { btHCStartSearchClick(); });
    connect(btHCStopSearch_, &QPushButton::clicked, this, [this] { btHCStopSearchClick(); });
    connect(back, &QPushButton::clicked, this, [this] { btHCAutoBackClick(); });
}

void THCWorkWindow::BuildErrorSearch() {
    QWidget* pan = form_.PanelWidget(Panel::HCErrorSearch);
    connect(AddButton(pan, "btHCSearchStopOK", text::kYes, 50, 100, 120), &QPushButton::clicked,
            this, [this] { btHCSearchStopOKClick(); });
    connect(AddButton(pan, "btHCSearchStopNO", text::kNo, 190, 100, 120), &QPushButton::clicked,
            this, [this] { btHCSearchStopNOClick(); });
}

// ---------------------------------------------------------------------------------------------
// Settings.

void THCWorkWindow::btHCConfigClick() {
    const ConnectionSettings& c = form_.Config()->Connection();
    cbHCComPort_->setCurrentText(ToQt(c.portName));
    cbHCPortSpeed_->setCurrentText(QString::number(c.portSpeed));
    cbUseModem_->setChecked(c.useModem);
    edPhoneNumber_->setText(ToQt(c.phoneNumber));
    form_.HidePanel(Panel::HCWork);
    form_.ShowPanel(Panel::HCConfig);
}

void THCWorkWindow::btHCParamOKClick() {
    const std::string port = From1251Widget(cbHCComPort_->currentText());
    const std::optional<long> speed = ParseSpeed(cbHCPortSpeed_->currentText());
    const bool modem = cbUseModem_->isChecked();
    const std::string phone = From1251Widget(edPhoneNumber_->text());
    if (port.empty() || !speed || *speed < kSlowestSpeed || *speed > kFastestSpeed ||
        (modem && phone.empty())) {
        return;
    }
    ConnectionSettings& c = form_.Config()->Connection();
    if (c.portSpeed != *speed || c.portName != port || c.useModem != modem ||
        c.phoneNumber != phone) {
        c.portSpeed = *speed;
        c.portName = port;
        c.useModem = modem;
        c.phoneNumber = phone;
        form_.Config()->SaveConnectionSettings(WorkState::stHCReports);
    }
    // Only the labels change; the address the operator typed stays.
    const QString address = edHCNumber_->text();
    form_.ShowConnectionSettings();
    edHCNumber_->setText(address);
    form_.HidePanel(Panel::HCConfig);
    form_.ShowPanel(Panel::HCWork);
}

// ---------------------------------------------------------------------------------------------
// The address search.

void THCWorkWindow::btHCAutoSearchClick() {
    if (edHCNumber_->text().isEmpty()) {
        edHCNumber_->setText(QStringLiteral("3"));
        return;
    }
    // Reports of an earlier search still queued must not fill the emptied list.
    ++searchNumber_;
    form_.ShowPanel(Panel::HCAutoSearch);
    form_.HidePanel(Panel::HCWork);
    HideSearchLabels();
    btHCStartSearch_->setEnabled(true);
    btHCStopSearch_->setEnabled(false);
    edHCBegin_->setText(QStringLiteral("1"));
    edHCEnd_->setText(QStringLiteral("255"));
    lbHCFinded_->clear();
    lbHCAutoFound_->hide();
}

void THCWorkWindow::btHCStartSearchClick() {
    const std::optional<int> begin = AddressOf(edHCBegin_);
    const std::optional<int> end = AddressOf(edHCEnd_);
    // An end past 255 is refused too: addresses are one byte and would wrap onto 0 and 1.
    if (!begin || !end || *end < *begin || *end > kLastAddress) {
        edHCBegin_->setText(QStringLiteral("1"));
        edHCEnd_->setText(QStringLiteral("255"));
        return;
    }
    const ConnectionSettings& c = form_.Config()->Connection();
    SearchRequest request;
    request.portName = c.portName;
    request.speed = static_cast<std::uint32_t>(c.portSpeed);
    request.begin = *begin;
    request.end = *end;
    request.net = cbHCNet_->isChecked();
    ++searchNumber_;
    stopped_ = false;
    if (!search_.Start(std::move(request), std::make_unique<PostingView>(this, searchNumber_))) {
        form_.HidePanel(Panel::HCAutoSearch);
        form_.ShowHCErrorCaption(text::kThreadError, HCErrorReturn::HCAutoSearch);
        return;
    }
    // The thread's first step; its reports queue up behind it.
    btHCStartSearch_->setEnabled(false);
    btHCStopSearch_->setEnabled(true);
    lbHCSearchShow_->show();
    lbHCAbonentFinded_->setText(QStringLiteral("0"));
    lbHCAbonentFinded_->show();
    lbHCAutoFound_->show();
    lbHCFinded_->clear();
}

void THCWorkWindow::StopSearch() {
    btHCStopSearch_->setEnabled(false);
    if (search_.Running()) {
        search_.RequestStop();
        std::this_thread::sleep_for(kStopGrace);
        search_.WaitFinished(kStopWait);
    }
    // A thread still running here ends at its next look at the flag; the next start or the
    // window's end joins it.
    search_.JoinIfFinished();
    stopped_ = true;
    btHCStartSearch_->setEnabled(true);
    HideSearchLabels();
}

void THCWorkWindow::HideSearchLabels() {
    lbHCSearchShow_->hide();
    lbHCSearchNumber_->hide();
}

void THCWorkWindow::btHCAutoBackClick() {
    if (btHCStopSearch_->isEnabled()) {
        form_.ShowPanel(Panel::HCErrorSearch);
    } else {
        form_.ShowPanel(Panel::HCWork);
    }
    form_.HidePanel(Panel::HCAutoSearch);
    lbHCAbonentFinded_->hide();
}

void THCWorkWindow::btHCSearchStopOKClick() {
    StopSearch();
    form_.ShowPanel(Panel::HCWork);
    form_.HidePanel(Panel::HCAutoSearch);
    form_.HidePanel(Panel::HCErrorSearch);
}

void THCWorkWindow::btHCSearchStopNOClick() {
    form_.ShowPanel(Panel::HCAutoSearch);
    lbHCAbonentFinded_->show();
    form_.HidePanel(Panel::HCErrorSearch);
}

// An error of the search goes over whatever search panel is shown, the stop question too, so
// that "Дальше" leads back to one window.
void THCWorkWindow::ShowSearchError(std::string_view message) {
    if (!form_.PanelWidget(Panel::HCErrorSearch)->isHidden()) {
        form_.HidePanel(Panel::HCErrorSearch);
        lbHCAbonentFinded_->show();
    }
    form_.HidePanel(Panel::HCAutoSearch);
    form_.ShowHCErrorCaption(message, HCErrorReturn::HCAutoSearch);
}

void THCWorkWindow::OnPortOpenFailed(unsigned search, const std::string& detail) {
    if (!Live(search)) {
        return;
    }
    ShowSearchError(std::string(text::kPortOpenError) + detail);
    btHCStartSearch_->setEnabled(true);
    btHCStopSearch_->setEnabled(false);
    lbHCSearchShow_->hide();
    search_.JoinIfFinished();
}

void THCWorkWindow::OnShowAddress(unsigned search, int address) {
    if (!Live(search)) {
        return;
    }
    lbHCSearchNumber_->setText(QString::number(address));
    lbHCSearchNumber_->show();
}

void THCWorkWindow::OnFound(unsigned search, const std::string& text, int count) {
    // A device found before "Стоп" stays listed.
    if (search != searchNumber_) {
        return;
    }
    lbHCFinded_->addItem(ToQt(text));
    lbHCAbonentFinded_->setText(QString::number(count));
}

void THCWorkWindow::OnFaultyDevice(unsigned search) {
    if (Live(search)) {
        ShowSearchError(text::kDeviceFaulty);
    }
}

void THCWorkWindow::OnFinished(unsigned search) {
    if (!Live(search)) {
        return;
    }
    btHCStartSearch_->setEnabled(true);
    btHCStopSearch_->setEnabled(false);
    HideSearchLabels();
    search_.JoinIfFinished();
}

// After a failed write or read "Старт" stays disabled until the operator presses "Стоп".
void THCWorkWindow::OnWriteFailed(unsigned search) {
    if (Live(search)) {
        HideSearchLabels();
    }
}

void THCWorkWindow::OnReadFailed(unsigned search) {
    if (!Live(search)) {
        return;
    }
    ShowSearchError(text::kDeviceFaulty);
    HideSearchLabels();
}

}  // namespace calvix
