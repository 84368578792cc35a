#include "workers/uthreadreadupdcatalog.h"

#include <poll.h>

#include <cerrno>
#include <system_error>
#include <utility>

#include "platform/file_io.h"
#include "platform/win_path.h"
#include "updtools/upd_link.h"

namespace workers {
namespace {

using std::chrono::milliseconds;

std::string CatalogText(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) {
        text += line;
        text += "\r\n";
    }
    return text;
}

}  // namespace

CThreadReadUPDCatalog::CThreadReadUPDCatalog(int portNumber, std::uint32_t baud,
                                             std::uint32_t timeoutMs, std::string outputFile,
                                             void* mainWindow, EndCallback onEnd,
                                             ProgressCallback onProgress,
                                             std::shared_ptr<platform::Event> stopEvent,
                                             CatalogSetup setup)
    : startPort_(portNumber >= 1 && portNumber <= kCatalogPorts ? portNumber : 1),
      portNumber_(startPort_),
      portTried_(startPort_),
      baud_(baud),
      timeoutMs_(timeoutMs),
      outputFile_(std::move(outputFile)),
      mainWindow_(mainWindow),
      onEnd_(std::move(onEnd)),
      onProgress_(std::move(onProgress)),
      stopEvent_(std::move(stopEvent)),
      setup_(std::move(setup)),
      control_(std::make_shared<WorkerControl>()) {}

WorkerThread CThreadReadUPDCatalog::Start(int portNumber, std::uint32_t baud,
                                          std::uint32_t timeoutMs, std::string outputFile,
                                          void* mainWindow, EndCallback onEnd,
                                          ProgressCallback onProgress,
                                          std::shared_ptr<platform::Event> stopEvent,
                                          CatalogSetup setup) {
    std::shared_ptr<CThreadReadUPDCatalog> worker(new CThreadReadUPDCatalog(
        portNumber, baud, timeoutMs, std::move(outputFile), mainWindow, std::move(onEnd),
        std::move(onProgress), std::move(stopEvent), std::move(setup)));
    std::shared_ptr<WorkerControl> control = worker->control_;
    // The thread owns the reader; it is freed when the body ends.
    return WorkerThread(std::move(control), [self = std::move(worker)]() mutable {
        self->Execute();
        self.reset();
    });
}

void CThreadReadUPDCatalog::OnMainThread(const std::function<void()>& call) {
    RunOnMain(setup_.runOnMainThread, call);
}

void CThreadReadUPDCatalog::Progress() {
    OnMainThread([this] {
        if (onProgress_) {
            onProgress_(mainWindow_, *this, found_);
        }
    });
}

void CThreadReadUPDCatalog::Execute() {
    try {
        Walk();
    } catch (...) {
        // An internal error is "not found"; the end callback still comes.
        found_ = false;
        portNumber_ = startPort_;
    }
    ReportEnd(*control_, setup_.runOnMainThread, [this] {
        if (onEnd_) {
            onEnd_(mainWindow_, *this, found_);
        }
    });
}

void CThreadReadUPDCatalog::Walk() {
    while (!Cancelled() && !StopAsked()) {
        std::vector<std::string> lines;
        const Trial trial = TryPort(portTried_, lines);
        if (trial == Trial::kCancelled || Cancelled()) {
            return;
        }
        if (trial == Trial::kAnswered) {
            lines_ = std::move(lines);
            if (!SaveCatalog()) {
                // The catalog is lost; the device will not move to another port meanwhile.
                ++counter_;
                Progress();
                return;
            }
            found_ = true;
            portNumber_ = portTried_;
            counter_ = kCatalogPorts;
            Progress();
            return;
        }
        ++counter_;
        Progress();
        portTried_ = portTried_ % kCatalogPorts + 1;
        if (portTried_ == startPort_) {
            return;  // every port tried once
        }
    }
}

CThreadReadUPDCatalog::Trial CThreadReadUPDCatalog::TryPort(int number,
                                                            std::vector<std::string>& lines) {
    // Its destructor switches DTR and RTS off and closes the port, whatever happens below.
    const std::unique_ptr<updtools::UpdPort> port = updtools::UpdPort::Open(number);
    if (port == nullptr) {
        return Trial::kNoAnswer;
    }
    if (!port->SetTimeouts(timeoutMs_) ||
        !port->Setup(baud_, updtools::LineSetup::kCatalogReader)) {
        return Trial::kNoAnswer;
    }
    if (!Pause(setup_.openPause)) {
        return Trial::kCancelled;
    }
    if (!port->Send(updtools::UpdCommand::kOpen)) {
        return Trial::kNoAnswer;
    }
    if (!Pause(setup_.answerPause)) {
        return Trial::kCancelled;
    }
    if (!updtools::IsEndOfList(port->Receive())) {
        return Trial::kNoAnswer;
    }
    return ReadEntries(*port, lines);
}

CThreadReadUPDCatalog::Trial CThreadReadUPDCatalog::ReadEntries(updtools::UpdPort& port,
                                                                std::vector<std::string>& lines) {
    for (unsigned n = 1;; ++n) {
        if (Cancelled()) {
            return Trial::kCancelled;
        }
        // A failed write leaves nothing to read: the list ends like after a failed read.
        const updtools::Reply reply = port.Exchange(updtools::UpdCommand::kNextEntry);
        if (reply.size() < 3 || updtools::IsEndOfList(reply) || !updtools::IsWholeReply(reply)) {
            break;
        }
        lines.push_back(std::to_string(n) + " - " + updtools::EntryName(reply));
    }
    return Trial::kAnswered;  // however many entries came
}

bool CThreadReadUPDCatalog::SaveCatalog() const {
    if (outputFile_.empty()) {
        return true;
    }
    return platform::ReplaceFile(platform::ResolvePath(outputFile_, setup_.workingFolder),
                                 CatalogText(lines_));
}

bool CThreadReadUPDCatalog::StopAsked() const {
    return stopEvent_ != nullptr && stopEvent_->IsSet();
}

bool CThreadReadUPDCatalog::Cancelled() const {
    return control_->CancelEvent().IsSet();
}

bool CThreadReadUPDCatalog::Pause(milliseconds pause) const {
    const auto deadline = std::chrono::steady_clock::now() + pause;
    for (;;) {
        const milliseconds left =
            std::chrono::ceil<milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            return !Cancelled();
        }
        pollfd cancel{control_->CancelEvent().Fd(), POLLIN, 0};
        const int ready = ::poll(&cancel, 1, static_cast<int>(left.count()));
        if (ready > 0) {
            return false;  // the manual-reset cancel event is readable while set
        }
        if (ready < 0 && errno != EINTR) {
            throw std::system_error(errno, std::generic_category(), "poll");
        }
    }
}

}  // namespace workers
