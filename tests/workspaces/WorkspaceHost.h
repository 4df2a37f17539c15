#pragma once

#include "support/ControllerFixture.h"
#include "ui/ViewState.h"
#include "ui/workspaces/Workspaces.h"

#include <QCoreApplication>
#include <QKeySequence>
#include <QShortcut>
#include <QVBoxLayout>
#include <QWidget>
#include <QtTest>

namespace vibrelle::testing {

// One section's workspace in a window of its own, on a controller with virtual time and
// a scripted transport. Esc stops everything, as the tester window binds it.
struct WorkspaceHost {
    ControllerFixture fixture;
    ui::ViewState viewState;
    QWidget window;
    QWidget *workspace = nullptr;

    explicit WorkspaceHost(ui::Section section, int width = 640) {
        auto *layout = new QVBoxLayout(&window);
        layout->setContentsMargins(24, 24, 24, 24);
        workspace = ui::createWorkspace(section, fixture.controller.get(), &viewState, &window);
        layout->addWidget(workspace);
        auto *escape = new QShortcut(QKeySequence(Qt::Key_Escape), &window);
        QObject::connect(escape, &QShortcut::activated, &window, [this] { fixture.controller->stop(); });
        window.resize(width, window.sizeHint().height());
        window.show();
        window.activateWindow();
        if (!QTest::qWaitForWindowExposed(&window)) {
            qFatal("workspace window not exposed");
        }
    }

    TesterController &controller() { return *fixture.controller; }
    FakeTransport &wire() { return *fixture.transport; }

    template <typename T> T *find(const QString &objectName) {
        T *widget = window.findChild<T *>(objectName);
        if (!widget) {
            qFatal("no widget named %s", qPrintable(objectName));
        }
        return widget;
    }

    // Lets posted events run (repaints, deferred deletes), then moves virtual time on.
    void settle(double seconds = 0) {
        QCoreApplication::processEvents();
        if (seconds > 0) {
            fixture.advance(seconds);
            QCoreApplication::processEvents();
        }
    }
};

} // namespace vibrelle::testing
