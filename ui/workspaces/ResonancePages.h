#pragma once

#include "core/TesterController.h"

#include <QPointer>
#include <QWidget>

class QPushButton;

namespace vibrelle::ui {

class GesturePad;

// Starts, pauses, resumes and stops a controlled resonance; its four parameters are
// editable live while it runs.
class ControlledPage final : public QWidget {
    Q_OBJECT
public:
    explicit ControlledPage(TesterController *controller, QWidget *parent = nullptr);

private:
    void refresh();

    QPointer<TesterController> m_controller;
    QPushButton *m_start = nullptr;
    QPushButton *m_pause = nullptr;
    QPushButton *m_stop = nullptr;
};

// Starts a resonance of fixed duration, which ends by itself.
class TimedPage final : public QWidget {
    Q_OBJECT
public:
    explicit TimedPage(TesterController *controller, QWidget *parent = nullptr);

private:
    void refresh();

    QPointer<TesterController> m_controller;
    QPushButton *m_vibrate = nullptr;
};

// The gesture resonance: tied to a drag on the pad, or continuous until stopped.
class GesturePage final : public QWidget {
    Q_OBJECT
public:
    explicit GesturePage(TesterController *controller, QWidget *parent = nullptr);

private:
    void refresh();

    QPointer<TesterController> m_controller;
    GesturePad *m_pad = nullptr;
    QPushButton *m_continuous = nullptr;
};

} // namespace vibrelle::ui
