#include "ui/workspaces/SnapshotStates.h"

#include "ui/pads/CuePad.h"
#include "ui/pads/GesturePad.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QMouseEvent>
#include <QScrollArea>

namespace vibrelle::ui {
namespace {

template <typename T> T *find(WorkspaceSnapshotScene &scene, const char *objectName) {
    return scene.window->findChild<T *>(QLatin1String(objectName));
}

void settle() {
    QCoreApplication::processEvents();
}

void answerAll(WorkspaceSnapshotScene &scene, const QJsonObject &extra = {}) {
    while (scene.openExchanges() > 0) {
        scene.replyOk(extra);
        settle();
    }
}

void sendMouse(QWidget *widget, QEvent::Type type, QPointF position, Qt::MouseButtons buttons) {
    const QPointF global = widget->mapToGlobal(position);
    QMouseEvent event(type, position, global, Qt::LeftButton, buttons, Qt::NoModifier);
    QCoreApplication::sendEvent(widget, &event);
    settle();
}

void click(WorkspaceSnapshotScene &scene, const char *objectName) {
    if (auto *button = find<QAbstractButton>(scene, objectName)) {
        button->click();
        settle();
    }
}

void showResonancePage(WorkspaceSnapshotScene &scene, ResonancePage page) {
    scene.viewState->setSelectedSection(Section::resonance);
    scene.viewState->setResonancePage(page);
    settle();
}

void pressGesturePad(WorkspaceSnapshotScene &scene) {
    showResonancePage(scene, ResonancePage::gesture);
    if (auto *pad = find<GesturePad>(scene, "tester.gesture.pad")) {
        sendMouse(pad, QEvent::MouseButtonPress, QPointF(pad->width() * 0.3, pad->height() / 2.0),
                  Qt::LeftButton);
        answerAll(scene);
    }
}

// Press on the table and pull `points` to the left in small steps, as a hand would.
void pullCue(WorkspaceSnapshotScene &scene, double points) {
    scene.viewState->setSelectedSection(Section::billiards);
    settle();
    auto *pad = find<CuePad>(scene, "tester.billiards.pad");
    if (!pad) {
        return;
    }
    const QPointF start(pad->width() * 0.8, 90);
    sendMouse(pad, QEvent::MouseButtonPress, start, Qt::LeftButton);
    answerAll(scene);
    for (double pulled = 10; pulled <= points; pulled += 10) {
        sendMouse(pad, QEvent::MouseMove, start - QPointF(pulled, 0), Qt::LeftButton);
        scene.advance(0.02);
        answerAll(scene);
    }
    scene.advance(0.06);
    answerAll(scene);
}

void openCurveEditor(WorkspaceSnapshotScene &scene) {
    scene.viewState->setSelectedSection(Section::billiards);
    settle();
    click(scene, "tester.billiards.curve");
    auto *content = find<QWidget>(scene, "tester.billiards.curve.content");
    if (!content) {
        return;
    }
    settle();
    for (QWidget *ancestor = content->parentWidget(); ancestor; ancestor = ancestor->parentWidget()) {
        if (auto *area = qobject_cast<QScrollArea *>(ancestor)) {
            area->ensureWidgetVisible(content, 0, 0);
            break;
        }
    }
    settle();
}

} // namespace

QList<WorkspaceSnapshotState> workspaceSnapshotStates() {
    return {
        {QStringLiteral("workspace-impulses-in-flight"), false,
         [](WorkspaceSnapshotScene &s) {
             s.viewState->setSelectedSection(Section::impulses);
             settle();
             click(s, "tester.impulses.natural");
         }},
        {QStringLiteral("workspace-controlled-running"), false,
         [](WorkspaceSnapshotScene &s) {
             showResonancePage(s, ResonancePage::controlled);
             click(s, "tester.controlled.start");
             answerAll(s, {{QStringLiteral("leaseMs"), 1500}});
         }},
        {QStringLiteral("workspace-timed-rest"), false,
         [](WorkspaceSnapshotScene &s) { showResonancePage(s, ResonancePage::timed); }},
        {QStringLiteral("workspace-gesture-rest"), false,
         [](WorkspaceSnapshotScene &s) { showResonancePage(s, ResonancePage::gesture); }},
        {QStringLiteral("workspace-gesture-pressed"), false, pressGesturePad},
        {QStringLiteral("workspace-gesture-continuous"), false,
         [](WorkspaceSnapshotScene &s) {
             showResonancePage(s, ResonancePage::gesture);
             click(s, "tester.gesture.continuous");
             answerAll(s);
         }},
        {QStringLiteral("workspace-billiards-drawn-half"), false,
         [](WorkspaceSnapshotScene &s) { pullCue(s, 110); }},
        {QStringLiteral("workspace-billiards-curve-open"), false, openCurveEditor},
        {QStringLiteral("dark-workspace-impulses"), true,
         [](WorkspaceSnapshotScene &s) {
             s.viewState->setSelectedSection(Section::impulses);
             settle();
         }},
        {QStringLiteral("dark-workspace-gesture-pressed"), true, pressGesturePad},
        {QStringLiteral("dark-workspace-billiards-drawn-full"), true,
         [](WorkspaceSnapshotScene &s) { pullCue(s, 240); }},
        {QStringLiteral("dark-workspace-billiards-curve-open"), true, openCurveEditor},
    };
}

} // namespace vibrelle::ui
