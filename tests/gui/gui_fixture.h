// A main window in a scratch working folder, with helpers to find and click its controls.
#pragma once

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QTimer>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>

#include "gui/caption_panel.h"
#include "gui/dialog_service.h"
#include "gui/display_text.h"
#include "gui/unitmainform.h"
#include "platform/codepage.h"
#include "tests/support/scratch_folder.h"

namespace calvix::testing_gui {

namespace fs = std::filesystem;

// Writes a file; `utf8` is stored as 1251 when `as1251` is set (INI files and reports).
inline void WriteFile(const fs::path& path, std::string_view utf8, bool as1251 = true) {
    if (path.has_parent_path()) {
        fs::create_directories(path.parent_path());
    }
    std::ofstream(path, std::ios::binary)
        << (as1251 ? platform::Utf8ToCp1251(utf8) : std::string(utf8));
}

inline std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline QString Q(const char* utf8) {
    return QString::fromUtf8(utf8);
}

class GuiTest : public ::testing::Test {
  protected:
    void SetUp() override {
        previous_ = fs::current_path();
        fs::current_path(folder_.Path());
        DialogService::ClearAnswers();
        DialogService::TakeShown();
        unansweredBefore_ = DialogService::UnansweredCount();
        // A port no test binds is one that does not open, never the machine's real /dev/ttyS*.
        for (int n = 1; n <= 8; ++n) {
            const std::string name = "CALVIX_COM" + std::to_string(n);
            ::setenv(name.c_str(), (folder_.Path() / ("no-COM" + std::to_string(n))).c_str(), 1);
        }
    }
    void TearDown() override {
        Stop();
        for (int n = 1; n <= 8; ++n) {
            ::unsetenv(("CALVIX_COM" + std::to_string(n)).c_str());
        }
        fs::current_path(previous_);
        EXPECT_EQ(DialogService::UnansweredCount(), unansweredBefore_)
            << "a box or dialog was shown without a preset answer";
        DialogService::ClearAnswers();
    }

    const fs::path& Folder() const { return folder_.Path(); }

    TMainForm& Start() {
        form_ = std::make_unique<TMainForm>();
        form_->show();
        QApplication::processEvents();
        return *form_;
    }
    // Destroys the window, which writes the configuration.
    void Stop() { form_.reset(); }

    // Runs the event loop until `done`, or fails after a generous bound.
    static bool WaitUntil(const std::function<bool()>& done,
                          std::chrono::minutes bound = std::chrono::minutes(4)) {
        QTimer wake;  // the loop looks again even when no event comes
        wake.start(20);
        const auto deadline = std::chrono::steady_clock::now() + bound;
        while (!done()) {
            if (std::chrono::steady_clock::now() > deadline) {
                return false;
            }
            QApplication::processEvents(QEventLoop::WaitForMoreEvents);
        }
        return true;
    }

    template <class T = QWidget>
    T* Find(const char* name) {
        T* widget = form_->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(widget, nullptr) << name;
        return widget;
    }
    void Click(const char* name) {
        auto* button = Find<QAbstractButton>(name);
        ASSERT_NE(button, nullptr);
        ASSERT_FALSE(button->isHidden()) << name << " is hidden";
        ASSERT_TRUE(button->isEnabled()) << name << " is disabled";
        button->click();
    }
    bool Visible(const char* name) { return !Find(name)->isHidden(); }

    // The work panels that are shown, by name.
    std::vector<std::string> ShownPanels() {
        std::vector<std::string> shown;
        for (Panel panel : kAllPanels) {
            QWidget* widget = form_->PanelWidget(panel);
            if (widget != nullptr && !widget->isHidden()) {
                shown.emplace_back(PanelName(panel));
            }
        }
        return shown;
    }
    void ExpectOnly(const char* panel) {
        EXPECT_EQ(ShownPanels(), std::vector<std::string>{panel});
    }

    void Key(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QWidget* target = QApplication::focusWidget();
        if (target == nullptr || target->window() != form_.get()) {
            target = form_.get();
        }
        QKeyEvent press(QEvent::KeyPress, key, modifiers);
        QApplication::sendEvent(target, &press);
    }

    std::string Title() { return form_->windowTitle().toStdString(); }
    std::string ErrorText() { return Find<QLabel>("lbError")->text().toStdString(); }

    std::unique_ptr<TMainForm> form_;

  private:
    testsupport::ScratchFolder folder_;
    fs::path previous_;
    int unansweredBefore_ = 0;
};

}  // namespace calvix::testing_gui
