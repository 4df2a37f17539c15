#pragma once

#include "app/TerminationHandshake.h"
#include "core/TesterController.h"
#include "ui/TesterView.h"

#include <QObject>

#include <functional>
#include <memory>

namespace vibrelle {

// The application's one window and its quit path: the window shows a TesterView on
// the process's controller; closing it, or Ctrl+Q, goes through the termination
// handshake, which the shell learns about the controller from once the window has
// been shown.
class TesterShell final : public QObject {
    Q_OBJECT
public:
    TesterShell(TesterController *controller, std::shared_ptr<TimeSource> time,
                std::function<void()> terminate,
                double fallbackSeconds = TerminationHandshake::defaultFallbackSeconds,
                QObject *parent = nullptr);
    ~TesterShell() override;

    ui::TesterView *window() const { return m_window.get(); }
    // The window's size when it opens: its size hint, as far as its screen allows.
    static QSize initialSize(const QWidget *window);
    TerminationHandshake *handshake() const { return m_handshake; }

    // A quit request from anywhere (menu shortcut, window close, termination signal).
    void quit();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    std::unique_ptr<ui::TesterView> m_window;
    TerminationHandshake *m_handshake = nullptr;
    TesterController *m_controller = nullptr;
    bool m_terminating = false;
};

} // namespace vibrelle
