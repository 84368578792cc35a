#include "gui/rules/configuration.h"

#include <utility>

#include "gui/rules/texts.h"
#include "platform/cp1251_literal.h"

namespace calvix {
namespace {

constexpr std::string_view kSectionHC = W1251("Чтение данных из TV540");
constexpr std::string_view kSectionUpd = W1251("Чтение данных из УПД");
constexpr std::string_view kSectionVersions = W1251("Определение версии TV540");
constexpr std::string_view kSectionPrinter = W1251("Принтер");

constexpr std::string_view kKeyAbonent = W1251("абонент");
constexpr std::string_view kKeyType = W1251("тип");
constexpr std::string_view kKeyPort = W1251("порт");
constexpr std::string_view kKeySpeed = W1251("скорость");
constexpr std::string_view kKeyReader = W1251("программа для чтения архивов");
constexpr std::string_view kKeyPhone = W1251("номер телефона");
constexpr std::string_view kKeyModem = W1251("чтение данных через модем");
constexpr std::string_view kKeyConnectTime = W1251("длительность установления соединения");

constexpr std::string_view kKeyTemplateList = W1251("список шаблонов");
constexpr std::string_view kKeySeveralDayList = W1251("список шаблонов отчетов за несколько дней");
constexpr std::string_view kKeyTemplateFolder = W1251("папка с шаблонами");
constexpr std::string_view kKeyCurrentView = W1251("вид представления текущих данных");
constexpr std::string_view kKeyConfigFile = W1251("файл конфигурации");
constexpr std::string_view kKeyConfigFilePeriod =
    W1251("файл конфигурации, только отчетный период");
constexpr std::string_view kVersionWord = W1251(" версия ");

constexpr std::string_view kKeyLeftMargin = W1251("отступ слева");
constexpr std::string_view kKeyTopMargin = W1251("отступ сверху");
constexpr std::string_view kKeyMaxRows =
    W1251("максимальное количество строк с данными в таблице на одном листе");
constexpr std::string_view kKeyPrinterDialog = W1251("показывать диалог выбора принтера");

constexpr std::string_view kYes = W1251("да");
constexpr std::string_view kNo = W1251("нет");

int Clamp(long value, int low, int high) {
    if (value < low) {
        return low;
    }
    if (value > high) {
        return high;
    }
    return static_cast<int>(value);
}

bool IsIgnoredTemplateName(std::string_view name) {
    std::size_t first = 0;
    while (first < name.size() && (name[first] == ' ' || name[first] == '\t')) {
        ++first;
    }
    return first == name.size() || name[first] == '-';
}

}  // namespace

bool IsYes(std::string_view value) {
    return value == kYes;
}

std::string_view YesNo(bool value) {
    return value ? kYes : kNo;
}

std::string StripSelectedMark(std::string_view caption, bool* found) {
    std::string out(caption);
    bool any = false;
    for (std::size_t at = out.find(text::kSelectedMark); at != std::string::npos;
         at = out.find(text::kSelectedMark)) {
        out.erase(at, text::kSelectedMark.size());
        any = true;
    }
    if (found != nullptr) {
        *found = any;
    }
    return out;
}

int PortNumberOf(std::string_view portName) {
    long number = 1;
    if (portName.size() < 3 || !platform::ParseIniInteger(portName.substr(3), number)) {
        return 1;
    }
    return number < 1 || number > 8 ? 1 : static_cast<int>(number);
}

Configuration::Configuration(std::filesystem::path file) {
    const platform::FileRead read = ini_.Load(std::move(file));
    if (read != platform::FileRead::kRead && read != platform::FileRead::kMissing) {
        throw ConfigurationUnreadable();
    }
}

void Configuration::LoadConnectionSettings(WorkState workState) {
    connection_ = ConnectionSettings{};
    ConnectionSettings& c = connection_;
    if (workState == WorkState::stHCReports) {
        c.abonent = ini_.ReadInteger(kSectionHC, kKeyAbonent, c.abonent);
        c.deviceType = ini_.ReadString(kSectionHC, kKeyType, c.deviceType);
        c.portName = ini_.ReadString(kSectionHC, kKeyPort, c.portName);
        c.portSpeed = ini_.ReadInteger(kSectionHC, kKeySpeed, c.portSpeed);
        c.readerProgram = ini_.ReadString(kSectionHC, kKeyReader, c.readerProgram);
        c.phoneNumber = ini_.ReadString(kSectionHC, kKeyPhone, c.phoneNumber);
        c.useModem = IsYes(ini_.ReadString(kSectionHC, kKeyModem, YesNo(c.useModem)));
        c.connectTimeout = ini_.ReadInteger(kSectionHC, kKeyConnectTime, c.connectTimeout);
        versionTable_ = ini_.SectionLines(kSectionVersions);
    } else if (workState == WorkState::stUpdReports) {
        c.portNumber = 1;
        c.deviceType = ini_.ReadString(kSectionUpd, kKeyType, c.deviceType);
        c.portName = ini_.ReadString(kSectionUpd, kKeyPort, c.portName);
        c.portSpeed = ini_.ReadInteger(kSectionUpd, kKeySpeed, c.portSpeed);
        c.portNumber = PortNumberOf(c.portName);
        c.portName = "COM" + std::to_string(c.portNumber);
    }
}

void Configuration::SaveConnectionSettings(WorkState workState) {
    std::string_view section;
    if (workState == WorkState::stHCReports) {
        section = kSectionHC;
        ini_.WriteInteger(section, kKeyAbonent, connection_.abonent);
        ini_.WriteString(section, kKeyModem, YesNo(connection_.useModem));
        ini_.WriteString(section, kKeyPhone, connection_.phoneNumber);
        ini_.WriteInteger(section, kKeyConnectTime, connection_.connectTimeout);
    } else if (workState == WorkState::stUpdReports) {
        section = kSectionUpd;
    } else {
        return;
    }
    ini_.WriteString(section, kKeyPort, connection_.portName);
    ini_.WriteInteger(section, kKeySpeed, connection_.portSpeed);
}

std::string Configuration::DeviceSectionName(std::string_view deviceType, int deviceVersion) const {
    std::string name =
        std::string(deviceType) + std::string(kVersionWord) + std::to_string(deviceVersion);
    if (!ini_.SectionExists(name)) {
        name = deviceType;
    }
    return name;
}

void Configuration::LoadTemplateSettings(int deviceVersion) {
    templates_ = TemplateSettings{};
    TemplateSettings& t = templates_;
    const std::string section = DeviceSectionName(connection_.deviceType, deviceVersion);
    t.templateList = ini_.ReadString(section, kKeyTemplateList, "");
    t.severalDayTemplateList = ini_.ReadString(section, kKeySeveralDayList, "");
    t.templateFolder = ini_.ReadString(section, kKeyTemplateFolder, "");
    t.currentValuesView = ini_.ReadInteger(section, kKeyCurrentView, 1);
    t.configFile = ini_.ReadString(section, kKeyConfigFile, "");
    t.configFilePeriod = ini_.ReadString(section, kKeyConfigFilePeriod, "");
}

TemplateList Configuration::ReadTemplateList(std::string_view section) const {
    TemplateList list;
    if (section.empty()) {
        return list;
    }
    for (const std::string& name : ini_.SectionKeys(section)) {
        if (IsIgnoredTemplateName(name)) {
            continue;
        }
        list.templates.push_back(name);
        list.captions.push_back(ini_.ReadString(section, name, ""));
    }
    return list;
}

void Configuration::WriteTemplateMarks(std::string_view section,
                                       const std::vector<std::string>& templates,
                                       const std::vector<TemplateMark>& boxes) {
    for (auto box = boxes.rbegin(); box != boxes.rend(); ++box) {
        if (box->tag >= templates.size()) {
            continue;
        }
        const std::string& key = templates[box->tag];
        std::string value = StripSelectedMark(ini_.ReadString(section, key, ""));
        if (box->checked) {
            value += text::kSelectedMark;
        }
        ini_.WriteString(section, key, value);
    }
}

void Configuration::LoadPrinterSettings() {
    printer_ = PrinterSettings{};
    PrinterSettings& p = printer_;
    p.leftMargin = Clamp(ini_.ReadInteger(kSectionPrinter, kKeyLeftMargin, 4), 0, 20);
    p.topMargin = Clamp(ini_.ReadInteger(kSectionPrinter, kKeyTopMargin, 2), 0, 20);
    p.maxTableRows = Clamp(ini_.ReadInteger(kSectionPrinter, kKeyMaxRows, 62), 10, 100);
    p.showPrinterDialog = IsYes(ini_.ReadString(kSectionPrinter, kKeyPrinterDialog, kNo));
}

}  // namespace calvix
