#pragma once

#include "support/ControllerFixture.h"
#include "support/NamedWidget.h"
#include "ui/BuildingBlocks.h"
#include "ui/ViewState.h"
#include "ui/workspaces/Workspaces.h"

#include <QShortcut>
#include <QSlider>
#include <QVBoxLayout>
#include <QtTest>

namespace vibrelle::testing {

constexpr double throttle = 0.06; // lets the pause/resume/update throttle (0.05 s) fire

// One section's workspace in a window of its own, on a controller with virtual time and a
// scripted transport. Esc stops everything, as the tester window binds it.
struct WorkspaceHost {
    ControllerFixture fixture;
    ui::ViewState viewState;
    QWidget window;
    QWidget *workspace;

    explicit WorkspaceHost(ui::Section section, ui::ResonancePage page = ui::ResonancePage::controlled)
        : workspace(ui::createWorkspace(section, fixture.controller.get(), &viewState, &window)) {
        (new QVBoxLayout(&window))->addWidget(workspace);
        auto *escape = new QShortcut(QKeySequence(Qt::Key_Escape), &window);
        QObject::connect(escape, &QShortcut::activated, &window, [this] { fixture.controller->stop(); });
        viewState.setResonancePage(page);
        window.resize(640, window.sizeHint().height());
        window.show();
        window.activateWindow();
        if (!QTest::qWaitForWindowExposed(&window)) {
            qFatal("workspace window not exposed");
        }
    }

    TesterController &controller() { return *fixture.controller; }
    FakeTransport &wire() { return *fixture.transport; }
    QString lastPath() { return wire().last().path(); }
    QJsonValue lastBody(const char *key) { return wire().last().json().value(QLatin1String(key)); }
    template <typename T = QWidget> T *find(const QString &objectName) { return namedWidget<T>(window, objectName); }
    // "1" for each enabled control, "0" for each disabled one (of a slider row: its slider).
    QString enabled(const QStringList &names) {
        QString row;
        for (const QString &name : names) {
            auto *slider = qobject_cast<ui::ParameterSlider *>(find(name));
            row +=
                (slider ? slider->slider() : find(name))->isEnabled() ? QLatin1Char('1') : QLatin1Char('0');
        }
        return row;
    }
    // Lets posted events run, then moves virtual time on.
    void settle(double seconds = 0) {
        QCoreApplication::processEvents();
        if (seconds > 0) {
            fixture.advance(seconds);
            QCoreApplication::processEvents();
        }
    }
    void reply(const QJsonObject &extra = {}) {
        wire().replyOk(extra);
        settle();
    }
};

} // namespace vibrelle::testing
