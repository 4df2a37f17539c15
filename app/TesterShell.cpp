#include "app/TesterShell.h"

#include <QCloseEvent>
#include <QScreen>
#include <QShortcut>

namespace vibrelle {

TesterShell::TesterShell(TesterController *controller, std::shared_ptr<TimeSource> time,
                         std::function<void()> terminate, double fallbackSeconds, QObject *parent)
    : QObject(parent)
    , m_window(std::make_unique<ui::TesterView>(controller))
    , m_controller(controller) {
    m_handshake = new TerminationHandshake(
        std::move(time),
        [this, terminate = std::move(terminate)] {
            // From here on the window may close: the application is going away.
            m_terminating = true;
            terminate();
        },
        fallbackSeconds, this);

    m_window->resize(initialSize(m_window.get()));
    m_window->installEventFilter(this);
    // Ctrl+Q, plus whatever else the desktop binds to quitting.
    QList<QKeySequence> quitKeys = QKeySequence::keyBindings(QKeySequence::Quit);
    const QKeySequence ctrlQ(Qt::CTRL | Qt::Key_Q);
    if (!quitKeys.contains(ctrlQ)) {
        quitKeys.prepend(ctrlQ);
    }
    auto *quitShortcut = new QShortcut(m_window.get());
    quitShortcut->setKeys(quitKeys);
    quitShortcut->setContext(Qt::WindowShortcut);
    connect(quitShortcut, &QShortcut::activated, this, &TesterShell::quit);
}

QSize TesterShell::initialSize(const QWidget *window) {
    const QSize size = window->sizeHint();
    return window->screen()
               ? size.boundedTo(window->screen()->availableSize()).expandedTo(window->minimumSize())
               : size;
}

TesterShell::~TesterShell() {
    m_window->removeEventFilter(this);
}

void TesterShell::quit() {
    m_handshake->quit();
}

bool TesterShell::eventFilter(QObject *watched, QEvent *event) {
    if (watched != m_window.get()) {
        return false;
    }
    if (event->type() == QEvent::Show && !m_handshake->controller()) {
        m_handshake->setController(m_controller);
    } else if (event->type() == QEvent::Close && !m_terminating) {
        event->ignore();
        quit();
        return true;
    }
    return false;
}

} // namespace vibrelle
