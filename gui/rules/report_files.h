// Report texts on disk and the report archive: file names of saved reports, the archive list,
// and the folders emptied or moved at start.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace calvix {

// A program path (Windows-1251, backslashes, relative to `base`) as a path of this system:
// file names are UTF-8 on disk and matched without regard to case.
std::filesystem::path ProgramPath(std::string_view windowsPath, const std::filesystem::path& base);

// Escapes the characters that a file name cannot hold: codes below 32 and \ / : * ? " > < | %
// become "%" and two upper-case hexadecimal digits.
std::string EncodeArchiveName(std::string_view title);
// Undoes EncodeArchiveName, from the end of the name to its start. A "%" not followed by two
// hexadecimal digits stays as it is.
std::string DecodeArchiveName(std::string_view name);
// "Archive\" + ArchiveFileName(title): the escaped title + ".txt", shortened when too long
// for a file name (gui/rules/report_archive.h).
std::string ArchiveReportPath(std::string_view title);

// True when at least three lines hold "+--", or exactly two do and 24 or more lines follow
// the second.
bool ReportHasTable(const std::vector<std::string>& lines);

// A saved report as the archive lists it.
struct ArchiveEntry {
    std::string title;  // 1251
    // "Archive\" + the file's real name (1251): a name that decoding and escaping again would
    // not give back (a stray "%", lower-case digits, ".TXT") still opens and deletes.
    std::string path;
};

// Fills `entries` with the saved reports of "Archive\", sorted by title without regard to
// case ("ё" beside "е"); true when any report file was found.
bool ListNameMemoCreate(const std::filesystem::path& startFolder,
                        std::vector<ArchiveEntry>& entries);

// Text files as lines (CR LF, LF or CR ends); false when the file cannot be read.
bool LoadTextLines(const std::filesystem::path& file, std::vector<std::string>& lines);
// Writes the lines with CR LF ends; false on any failure.
bool SaveTextLines(const std::filesystem::path& file, const std::vector<std::string>& lines);
// Deletes every "*.txt" file of the folder; other files and sub-folders stay.
void ClearTextFolder(const std::filesystem::path& startFolder, std::string_view folder);
// Moves the reports of the old "memo\" folder into "archive\"; stops quietly at the first
// failure and never creates the archive folder.
void MigrateMemoFolder(const std::filesystem::path& startFolder);

}  // namespace calvix
