#include "workers/uthreadextproc.h"

#include <optional>
#include <utility>

#include "platform/cp1251_literal.h"
#include "platform/file_io.h"
#include "platform/process.h"
#include "platform/text_trim.h"
#include "platform/win_path.h"

namespace workers {
namespace {

using platform::ChildProcess;
using std::chrono::milliseconds;

// The text up to the first space, and the trimmed rest after it.
std::string_view TakeWord(std::string_view& text) {
    const std::size_t space = text.find(' ');
    if (space == std::string_view::npos) {
        const std::string_view word = text;
        text = {};
        return word;
    }
    const std::string_view word = text.substr(0, space);
    text = platform::TrimSpaceAndControl(text.substr(space + 1));
    return word;
}

void ReplaceAll(std::string& text, std::string_view from, const std::string& to) {
    for (std::size_t at = text.find(from); at != std::string::npos;
         at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
}

}  // namespace

namespace extproc {

CommandText SplitCommandText(std::string_view text) {
    std::string_view rest = platform::TrimSpaceAndControl(text);
    CommandText parts;
    parts.listFile = std::string(TakeWord(rest));
    parts.value1 = std::string(TakeWord(rest));
    parts.value2 = std::string(TakeWord(rest));
    return parts;
}

std::vector<std::string> TextLines(std::string_view text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find_first_of("\r\n", start);
        if (end == std::string_view::npos) {
            end = text.size();
        }
        lines.emplace_back(text.substr(start, end - start));
        start = end;
        if (start < text.size() && text[start] == '\r') {
            ++start;
        }
        if (start < text.size() && text[start] == '\n') {
            ++start;
        }
    }
    return lines;
}

bool IsProgramLine(std::string_view line) {
    std::string_view rest = platform::TrimSpaceAndControl(line);
    return TakeWord(rest).find(".exe") != std::string_view::npos;
}

std::string Substitute(std::string line, const std::string& value1, const std::string& value2) {
    if (!value1.empty()) {
        ReplaceAll(line, "%1", value1);
    }
    if (!value2.empty()) {
        ReplaceAll(line, "%2", value2);
    }
    return line;
}

std::string ReadingTimeText(milliseconds elapsed) {
    const long long seconds = elapsed.count() < 0 ? 0 : elapsed.count() / 1000;
    std::string text(W1251("Общее время считывания: "));
    text += std::to_string(seconds / 60 % 60);
    text += W1251(" мин ");
    text += std::to_string(seconds % 60);
    text += W1251(" сек");
    return text;
}

}  // namespace extproc

CThreadExtProc::CThreadExtProc(std::string commandText, int timeBudget, void* mainWindow,
                               EndCallback onEnd, ProgressCallback onProgress,
                               std::shared_ptr<platform::Event> stopEvent, bool listMode,
                               ExtProcSetup setup)
    : commandText_(std::move(commandText)),
      timeBudget_(timeBudget < 0 ? 0 : timeBudget),
      mainWindow_(mainWindow),
      onEnd_(std::move(onEnd)),
      onProgress_(std::move(onProgress)),
      stopEvent_(std::move(stopEvent)),
      listMode_(listMode),
      setup_(std::move(setup)),
      control_(std::make_shared<WorkerControl>()) {}

WorkerThread CThreadExtProc::StartSingle(std::string commandLine, int timeBudget, void* mainWindow,
                                         EndCallback onEnd, ExtProcSetup setup) {
    return Run(std::shared_ptr<CThreadExtProc>(
        new CThreadExtProc(std::move(commandLine), timeBudget, mainWindow, std::move(onEnd), {},
                           nullptr, false, std::move(setup))));
}

WorkerThread CThreadExtProc::StartList(std::string commandText,
                                       std::shared_ptr<platform::Event> stopEvent,
                                       ProgressCallback onProgress, EndCallback onEnd,
                                       void* mainWindow, int timeBudget, ExtProcSetup setup) {
    return Run(std::shared_ptr<CThreadExtProc>(
        new CThreadExtProc(std::move(commandText), timeBudget, mainWindow, std::move(onEnd),
                           std::move(onProgress), std::move(stopEvent), true, std::move(setup))));
}

WorkerThread CThreadExtProc::Run(std::shared_ptr<CThreadExtProc> worker) {
    std::shared_ptr<WorkerControl> control = worker->control_;
    // The thread owns the worker; it is freed when the body ends.
    return WorkerThread(std::move(control), [self = std::move(worker)]() mutable {
        self->Execute();
        self.reset();
    });
}

void CThreadExtProc::OnMainThread(const std::function<void()>& call) {
    RunOnMain(setup_.runOnMainThread, call);
}

void CThreadExtProc::Execute() {
    try {
        if (listMode_) {
            RunList();
        } else {
            RunSingle();
        }
    } catch (...) {
        // An internal error is a failure; the end callback still comes.
        succeeded_ = false;
    }
    ReportEnd(*control_, setup_.runOnMainThread, [this] {
        if (onEnd_) {
            onEnd_(mainWindow_, succeeded_);
        }
    });
}

void CThreadExtProc::RunSingle() {
    std::optional<ChildProcess> child = ChildProcess::Start(commandText_, {setup_.workingFolder});
    if (!child) {
        return;
    }
    const milliseconds limit = setup_.second * timeBudget_ + milliseconds(1);
    if (child->Wait(limit, {&control_->CancelEvent()}) == ChildProcess::WaitEnd::kExited) {
        succeeded_ = true;
    } else {
        child->Terminate();
    }
}

void CThreadExtProc::RunList() {
    const extproc::CommandText parts = extproc::SplitCommandText(commandText_);
    std::string content;
    if (platform::ReadFileWhole(platform::ResolvePath(parts.listFile, setup_.workingFolder),
                                content) != platform::FileRead::kRead) {
        return;
    }
    int remaining = timeBudget_;
    position_ = 0;
    maximum_ = timeBudget_;
    startTime_ = std::chrono::steady_clock::now();
    for (const std::string& line : extproc::TextLines(content)) {
        if (!extproc::IsProgramLine(line)) {
            continue;
        }
        const std::string command = extproc::Substitute(line, parts.value1, parts.value2);
        std::optional<ChildProcess> child = ChildProcess::Start(command, {setup_.workingFolder});
        if (!child) {
            remaining = 0;
            break;
        }
        if (!WaitInSteps(*child, remaining)) {
            break;
        }
    }
    succeeded_ = remaining > 0;
}

bool CThreadExtProc::WaitInSteps(ChildProcess& child, int& remaining) {
    bool ended = false;
    while (remaining > 0) {
        const ChildProcess::WaitEnd end =
            stopEvent_ ? child.Wait(setup_.second, {&control_->CancelEvent(), stopEvent_.get()})
                       : child.Wait(setup_.second, {&control_->CancelEvent()});
        if (end == ChildProcess::WaitEnd::kExited) {
            ended = true;
            break;
        }
        if (end == ChildProcess::WaitEnd::kEvent) {
            remaining = 0;  // stopped
            break;
        }
        --remaining;
        ++position_;
        elapsedText_ = extproc::ReadingTimeText(std::chrono::duration_cast<milliseconds>(
            std::chrono::steady_clock::now() - startTime_));
        OnMainThread([this] {
            if (onProgress_) {
                onProgress_(mainWindow_, *this);
            }
        });
    }
    if (!ended) {
        child.Terminate();
    }
    return remaining > 0;
}

}  // namespace workers
