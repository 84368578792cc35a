// The report archive "Archive\": file names of saved reports, the title files of long titles,
// and saving, copying and deleting there.
//
// A saved report is "Archive\" + the escaped title + ".txt". Names on disk are UTF-8 and at most
// 255 bytes long, so a long title (a Cyrillic letter takes two bytes) cannot always be a name.
// Such a title is saved as a cut of its escaped form at a character boundary, "~" and sixteen
// hexadecimal digits of a hash of the whole title, + ".txt"; the whole title is kept beside it
// in a title file of the same stem with the ending ".title", which the "*.txt" listing does not
// see. The listing takes a shortened name's title from its title file when that file names a
// title that shortens to this very name, and deleting a report deletes its title file too.
#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace calvix {

inline constexpr std::size_t kMaxFileNameBytes = 255;
inline constexpr std::string_view kTitleFileEnding = ".title";

// The file name (1251) a report with this title is saved under: the escaped title + ".txt", or
// its shortened form when that name would take more than 255 bytes on disk.
std::string ArchiveFileName(std::string_view title);
// True when a file name (with or without its ending) has the form of a shortened name.
bool IsShortenedArchiveName(std::string_view fileName);
// The title file beside an archive file name: its stem + ".title".
std::string TitleFileName(std::string_view archiveFileName);
// The title that the archive file `fileName` (1251, as listed in `archiveFolder`) stands for:
// a shortened name's title from its title file, else the decoded name without ".txt".
std::string ArchiveTitleOf(const std::filesystem::path& archiveFolder, std::string_view fileName);

// Alphabetical order without regard to case, with "ё" beside "е" (not after "я").
bool ArchiveTitleLess(std::string_view a, std::string_view b);

// Whether the folder "Archive" exists; MakeArchiveFolder creates it when it does not.
bool ArchiveFolderExists(const std::filesystem::path& startFolder);
bool MakeArchiveFolder(const std::filesystem::path& startFolder);

// The program path a report with this title is saved to: the report of the archive that
// already lists under this title (so its file is replaced, whatever its real name), else
// "Archive\" + ArchiveFileName(title).
std::string ArchiveTargetPath(const std::filesystem::path& startFolder, std::string_view title);

// Writes the lines to the archive file `targetPath` (replacing it, never half written) and,
// for a shortened name, the title file first. False when the report was not written.
bool WriteArchiveReport(const std::filesystem::path& startFolder, std::string_view targetPath,
                        std::string_view title, const std::vector<std::string>& lines);

enum class ArchiveCopy { kSaved, kMissing, kFailed };
// Loads the report file `sourcePath`, corrects it with `correct` (when set; it may throw) and
// writes it as WriteArchiveReport does.
ArchiveCopy CopyIntoArchive(const std::filesystem::path& startFolder, std::string_view sourcePath,
                            std::string_view targetPath, std::string_view title,
                            const std::function<void(std::vector<std::string>&)>& correct);

// Deletes the archive file at the program path and its title file. True when the report file
// is gone afterwards (also when it was missing); a folder is never deleted.
bool DeleteArchiveReport(const std::filesystem::path& startFolder, std::string_view path);

}  // namespace calvix
