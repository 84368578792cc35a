// An INI file held in memory: read once, read and changed in memory, written back whole.
// Section and key names are Windows-1251 texts (spaces allowed) compared without regard to case;
// values are 1251 texts, trimmed of spaces and tabs at both ends as keys are.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file_io.h"

namespace platform {

class IniFile {
  public:
    IniFile() = default;

    // Reads the file at `path` and keeps the path for UpdateFile. A missing file is an empty
    // configuration (kMissing). Any other failure leaves the object empty and without a path,
    // so a file that could not be read is never written over.
    FileRead Load(std::filesystem::path path);

    // Replaces the contents with the text of an INI file (CR LF or LF lines).
    void Parse(std::string_view text);
    // The file as it would be written: sections in order, CR LF line ends.
    std::string Text() const;

    // Writes the whole file through a temporary file beside it and a rename, so a failure never
    // leaves half a file. A symbolic link is followed and stays a link; an existing file keeps
    // its permissions and owner. A file that cannot be opened for writing where it stands
    // (read-only, a folder, a FIFO) is refused as an in-place write would be. False when it
    // could not be written; the old file stays as it was.
    [[nodiscard]] bool UpdateFile() const;
    const std::filesystem::path& Path() const { return path_; }

    std::string ReadString(std::string_view section, std::string_view key,
                           std::string_view defaultValue) const;
    // Decimal, or hexadecimal after "0x"/"0X"; anything else gives the default.
    long ReadInteger(std::string_view section, std::string_view key, long defaultValue) const;
    void WriteString(std::string_view section, std::string_view key, std::string_view value);
    void WriteInteger(std::string_view section, std::string_view key, long value);

    bool SectionExists(std::string_view section) const;  // the section holds a key
    bool ValueExists(std::string_view section, std::string_view key) const;
    std::vector<std::string> Sections() const;
    std::vector<std::string> SectionKeys(std::string_view section) const;
    // Every key line of the section as "key=value".
    std::vector<std::string> SectionLines(std::string_view section) const;
    void EraseSection(std::string_view section);
    void DeleteKey(std::string_view section, std::string_view key);

  private:
    struct Line {
        std::string key;    // empty for a comment or blank line
        std::string value;  // or the whole comment line
        bool isKey = false;
    };
    struct Section {
        std::string name;
        std::vector<Line> lines;
    };
    const Section* Find(std::string_view name) const;
    Section* Find(std::string_view name);
    const Line* FindKey(std::string_view section, std::string_view key) const;

    std::filesystem::path path_;
    std::vector<Line> preamble_;  // comments before the first section
    std::vector<Section> sections_;
};

// Integer text as the configuration reads it; false when it is not a number.
bool ParseIniInteger(std::string_view text, long& value);

}  // namespace platform
