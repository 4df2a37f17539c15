#pragma once

#include "core/TesterController.h"
#include "ui/ViewState.h"

#include <QJsonObject>
#include <QList>
#include <QString>
#include <QWidget>

#include <functional>

namespace vibrelle::ui {

// What a snapshot state works with: the window showing the workspaces, its controller
// and view state, and the scripted service on virtual time behind the controller.
struct WorkspaceSnapshotScene {
    TesterController *controller = nullptr;
    ViewState *viewState = nullptr;
    QWidget *window = nullptr;
    // Completes the oldest open exchange with a success reply ({"ok": true} plus `extra`).
    std::function<void(const QJsonObject &extra)> replyOk;
    // Moves virtual time on, running due timers.
    std::function<void(double seconds)> advance;
    // The number of exchanges still waiting for a reply.
    std::function<int()> openExchanges;
};

// A named state of the section workspaces, at rest or in use, for the snapshot tool:
// `arrange` selects the section and drives the window there, with pointer input where
// a pad is involved. Nothing is sent anywhere but to the scripted service.
struct WorkspaceSnapshotState {
    QString name;
    bool dark = false;
    std::function<void(WorkspaceSnapshotScene &)> arrange;
};

QList<WorkspaceSnapshotState> workspaceSnapshotStates();

} // namespace vibrelle::ui
