#include "builder/command.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstring>
#include <optional>

#include "builder/archive.h"
#include "builder/render.h"
#include "builder/template.h"
#include "platform/codepage.h"
#include "platform/cp1251_literal.h"
#include "platform/file_io.h"
#include "platform/win_path.h"

namespace builder {

namespace {

std::optional<int> Whole(std::string_view text) {
    int value = 0;
    const auto r = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || r.ec != std::errc{} || r.ptr != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

// "dd.mm.yyyy".
Date DateArgument(const std::string& text) {
    const auto d = text.size() == 10 && text[2] == '.' && text[5] == '.'
                       ? std::optional<Date>(Date{Whole(text.substr(6)).value_or(0),
                                                  Whole(text.substr(3, 2)).value_or(0),
                                                  Whole(text.substr(0, 2)).value_or(0)})
                       : std::nullopt;
    if (!d || !IsValidDate(*d)) {
        throw InputError(std::string(W1251("Неверная дата в командной строке: ")) + text);
    }
    return *d;
}

Date HourlyDate(const std::string& year, const std::string& month, const std::string& day) {
    Date d{Whole(year).value_or(-1), Whole(month).value_or(0), Whole(day).value_or(0)};
    if (d.year >= 0 && d.year < 100) {
        d.year += 2000;
    }
    if (d.year < 0 || !IsValidDate(d)) {
        throw InputError(std::string(W1251("Неверная дата отчета: ")) + year + " " + month + " " +
                         day);
    }
    return d;
}

std::string ReadInput(const std::filesystem::path& path, const std::string& shown,
                      std::string_view what) {
    std::string content;
    switch (platform::ReadFileWhole(path, content)) {
        case platform::FileRead::kRead:
            return content;
        case platform::FileRead::kMissing:
            throw InputError(std::string(what) + std::string(W1251(" не найден: ")) + shown);
        default:
            throw InputError(std::string(what) + std::string(W1251(" не читается: ")) + shown);
    }
}

// The reason in a small framed table: the workstation shows only reports that have one. The
// two frame lines together under the reason leave its several-day step no day rows to rewrite;
// the blank ends the heading to which that step appends the period.
std::string Explanation(const std::string& reason) {
    const std::string frame = "+" + std::string(reason.size() + 2, '-') + "+\r\n";
    return std::string(W1251("Отчет не создан. \r\n")) + frame + "| " + reason + " |\r\n" + frame +
           frame;
}

struct Job {
    std::string templatePath, dataPath, outputPath;
    Request request;
};

std::string Build(const Job& job, const std::filesystem::path& base) {
    const Template report =
        ParseTemplate(ReadInput(platform::ResolvePath(job.templatePath, base), job.templatePath,
                                std::string(W1251("Файл шаблона"))));
    const Archive archive =
        ParseDataFile(ReadInput(platform::ResolvePath(job.dataPath, base), job.dataPath,
                                std::string(W1251("Файл данных"))));
    return RenderReport(report, archive, job.request);
}

}  // namespace

bool WriteWholeFile(const std::filesystem::path& path, const std::string& bytes) {
    // Same folder, same extension: a temporary left by a killed run goes with the workstation's
    // clean-up of "*.txt" at its start.
    const std::string extension = path.extension().string();
    std::string temporary = (path.parent_path() / path.stem()).string() + ".XXXXXX" + extension;
    const int fd = mkstemps(temporary.data(), static_cast<int>(extension.size()));
    if (fd < 0) {
        return false;
    }
    std::size_t done = 0;
    bool ok = true;
    while (ok && done < bytes.size()) {
        const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        ok = n > 0 || (n < 0 && errno == EINTR);
        done += n > 0 ? static_cast<std::size_t>(n) : 0;
    }
    ok = ok && fchmod(fd, 0644) == 0 && fsync(fd) == 0;
    const int saved = errno;
    ok = close(fd) == 0 && ok;
    if (ok && std::rename(temporary.c_str(), path.c_str()) == 0) {
        return true;
    }
    const int failure = ok ? errno : saved;
    unlink(temporary.c_str());
    errno = failure;
    return false;
}

int RunBuilder(const std::vector<std::string>& args, const std::filesystem::path& base,
               std::ostream& err) {
    Job job;
    const bool touch = args.size() >= 5 && args[0] == "1" && args[1] == "3" &&
                       (args.size() == 5 || args.size() == 8);
    const bool deep = args.size() == 6 && args[0] == "s";
    if (!touch && !deep) {
        err << "usage: touch 1 3 <template> <data file> <output> [<year> <month> <day>]\n"
               "       touch180 s <data file> <template> <output> <dd.mm.yyyy> <dd.mm.yyyy>\n";
        return kExitUsage;
    }
    job.templatePath = args[2];
    job.dataPath = touch ? args[3] : args[1];
    job.outputPath = args[touch ? 4 : 3];
    std::string text;
    int result = kExitDone;
    try {
        if (touch && args.size() == 8) {
            job.request.hourlyDate = HourlyDate(args[5], args[6], args[7]);
        } else if (deep) {
            job.request.range = {DateArgument(args[4]), DateArgument(args[5])};
        }
        text = Build(job, base);
    } catch (const InputError& e) {
        text = Explanation(e.what());
        err << "touch: " << platform::Cp1251ToUtf8(e.what()) << "\n";
        result = kExitReportExplains;
    }
    const std::filesystem::path output = platform::ResolvePath(job.outputPath, base);
    if (!WriteWholeFile(output, platform::Cp1251ToCp866(text))) {
        err << "touch: cannot write " << job.outputPath << ": " << std::strerror(errno) << "\n";
        return kExitNotWritten;
    }
    return result;
}

}  // namespace builder
