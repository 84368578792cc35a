// calvix.ini: the connection, device, template-list and printer settings, read from and
// written to the in-memory file. The file reaches the disk only through WriteToDisk.
#pragma once

#include <filesystem>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "gui/rules/work_state.h"
#include "platform/ini_file.h"

namespace calvix {

struct ConnectionSettings {
    long abonent = 3;
    std::string deviceType;
    std::string portName = "COM1";
    long portSpeed = 9600;
    std::string readerProgram = "calvix.exe";
    std::string phoneNumber;
    bool useModem = false;
    long connectTimeout = 120;
    int portNumber = 1;  // the УПД's port as a number
};

struct TemplateSettings {
    std::string templateList;  // "список шаблонов"
    std::string severalDayTemplateList;  // "список шаблонов отчетов за несколько дней"
    std::string templateFolder;
    long currentValuesView = 1;
    std::string configFile;
    std::string configFilePeriod;
};

struct PrinterSettings {
    int leftMargin = 4;     // characters
    int topMargin = 2;      // lines
    int maxTableRows = 62;  // data rows of a table on one sheet
    bool showPrinterDialog = false;
};

// A template list section: template names and the captions of their check boxes.
struct TemplateList {
    std::vector<std::string> templates;
    std::vector<std::string> captions;
};

// One report check box as the configuration sees it.
struct TemplateMark {
    std::size_t tag = 0;  // index into the template names
    bool checked = false;
};

// Only the exact text "да" means yes.
bool IsYes(std::string_view value);
std::string_view YesNo(bool value);
// Removes every "<выбран>" from a caption; `found` tells whether there was one.
std::string StripSelectedMark(std::string_view caption, bool* found = nullptr);
// Port number after the first three characters of a port name; 1 when that is no number
// from 1 to 8.
int PortNumberOf(std::string_view portName);

// calvix.ini exists but cannot be read: the program must not start on an empty configuration
// and later write it over the operator's file.
class ConfigurationUnreadable : public std::runtime_error {
  public:
    ConfigurationUnreadable() : std::runtime_error("calvix.ini cannot be read") {}
};

class Configuration {
  public:
    // Loads the file; a missing file is an empty configuration. Throws ConfigurationUnreadable
    // when the file exists but cannot be read whole (permissions, a folder, a FIFO, too large).
    explicit Configuration(std::filesystem::path file);

    platform::IniFile& Ini() { return ini_; }
    const platform::IniFile& Ini() const { return ini_; }

    // Resets the connection fields, then reads the section of the work state: stHCReports the
    // heat calculator (with the version table), stUpdReports the УПД, others nothing more.
    void LoadConnectionSettings(WorkState workState);
    // Writes the connection fields into the section of the work state (stUpdReports or
    // stHCReports); nothing in the others.
    void SaveConnectionSettings(WorkState workState);
    ConnectionSettings& Connection() { return connection_; }
    const ConnectionSettings& Connection() const { return connection_; }
    // Lines "key=value" of the version determination section, read in work state 4.
    const std::vector<std::string>& VersionTable() const { return versionTable_; }

    // The device section: type + " версия " + version when that section has a key, else the
    // type alone.
    std::string DeviceSectionName(std::string_view deviceType, int deviceVersion) const;
    // Resets the template settings and reads them from the device section.
    void LoadTemplateSettings(int deviceVersion);
    const TemplateSettings& Templates() const { return templates_; }

    // Template names and captions of a template list section; blank names and names that
    // begin with "-" are left out.
    TemplateList ReadTemplateList(std::string_view section) const;
    // Writes the marks of the check boxes (last box first) into the captions of `section`.
    void WriteTemplateMarks(std::string_view section, const std::vector<std::string>& templates,
                            const std::vector<TemplateMark>& boxes);

    void LoadPrinterSettings();
    const PrinterSettings& Printer() const { return printer_; }

    // Writes the held file to disk in one piece; false when it could not be written.
    bool WriteToDisk() const { return ini_.UpdateFile(); }

  private:
    platform::IniFile ini_;
    ConnectionSettings connection_;
    std::vector<std::string> versionTable_;
    TemplateSettings templates_;
    PrinterSettings printer_;
};

}  // namespace calvix
