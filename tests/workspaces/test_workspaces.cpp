// The pads' shape functions; then each section's workspace in a window of its own, on a controller on virtual
// time behind a scripted transport, driven by pointer and keys: cards, resonance pages and pads, the table.

#include "support/ControllerFixture.h"
#include "support/NamedWidget.h"
#include "ui/BuildingBlocks.h"
#include "ui/ViewState.h"
#include "ui/pads/CuePad.h"
#include "ui/pads/CuePadGeometry.h"
#include "ui/pads/GesturePad.h"
#include "ui/pads/ImpulseCard.h"
#include "ui/pads/ImpulseTrace.h"
#include "ui/workspaces/SegmentedPicker.h"
#include "ui/workspaces/Workspaces.h"

#include <QAccessible>
#include <QCheckBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QShortcut>
#include <QVBoxLayout>
#include <QtTest>

using namespace vibrelle;
using namespace vibrelle::testing;
using namespace vibrelle::ui;

namespace {

constexpr double throttle = 0.06; // lets the pause/resume/update throttle (0.05 s) fire

// One section's workspace in a window of its own; Esc stops everything, as the tester window binds it.
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
    template <typename T = QWidget> T *find(const QString &objectName) {
        return namedWidget<T>(window, objectName);
    }
    // "1" for each enabled control, "0" for each disabled one (of a slider row: its slider).
    QString enabled(const QStringList &names) {
        QString row;
        for (const QString &name : names) {
            auto *slider = qobject_cast<ui::ParameterSlider *>(find(name));
            row += (slider ? slider->slider() : find(name))->isEnabled() ? '1' : '0';
        }
        return row;
    }
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

const QString idleTitle = QStringLiteral("Premi e trascina qui");
const QString draggingTitle = QStringLiteral("Trascina · rilascia per fermare");

// The gesture page, its pad and the continuous-gesture button. With `keys`, Space on the focused pad stands
// for the pointer: its press, auto-repeat and release for the press, move and release.
struct GesturePage {
    WorkspaceHost host{Section::resonance, ResonancePage::gesture};
    GesturePad *pad = host.find<GesturePad>("tester.gesture.pad");
    QPushButton *button = host.find<QPushButton>("tester.gesture.continuous");
    bool keys = false;
    void press() {
        keys ? QTest::keyPress(pad, Qt::Key_Space)
             : QTest::mousePress(pad, Qt::LeftButton, {}, QPoint(40, 50));
    }
    void move(QPoint to, Qt::MouseButton held = Qt::LeftButton) {
        QMouseEvent event(QEvent::MouseMove, to, pad->mapToGlobal(to), held, held, Qt::NoModifier);
        QKeyEvent repeat(QEvent::KeyPress, Qt::Key_Space, Qt::NoModifier, " ", true);
        QCoreApplication::sendEvent(pad, keys ? static_cast<QEvent *>(&repeat) : &event);
        host.settle();
    }
    void release() {
        keys ? QTest::keyRelease(pad, Qt::Key_Space)
             : QTest::mouseRelease(pad, Qt::LeftButton, {}, QPoint(90, 60));
    }
};

const QString idleHint = QStringLiteral("←  Premi e tira la stecca a sinistra");
const QString pullingHint = QStringLiteral("Tira a sinistra · rilascia per tirare");

// The billiards workspace, and a pointer on its table.
struct Table {
    WorkspaceHost host{ui::Section::billiards};
    ui::CuePad *pad = host.find<ui::CuePad>("tester.billiards.pad");
    QLabel *charge = host.find<QLabel>("tester.billiards.charge");
    QPoint pointer{400, 76};

    // Moves by dx in steps of 10, with a little vertical wobble that must not count.
    void pull(int dx, Qt::MouseButton held = Qt::LeftButton) {
        const QPoint start = pointer;
        for (int i = 1, steps = std::max(1, std::abs(dx) / 10); i <= steps; ++i) {
            pointer = start + QPoint(dx * i / steps, (i % 2) * 3);
            QMouseEvent move(QEvent::MouseMove, pointer, pad->mapToGlobal(pointer), held, held, {});
            QCoreApplication::sendEvent(pad, &move);
            host.settle();
        }
    }
    void release() { QTest::mouseRelease(pad, Qt::LeftButton, {}, pointer); }
    // Keys on the focused table: L is Left, S is Shift+Left, R is Right.
    void type(const QString &keys) {
        for (const QChar key : keys) {
            QTest::keyClick(pad, key == 'R' ? Qt::Key_Right : Qt::Key_Left,
                            key == 'S' ? Qt::ShiftModifier : Qt::NoModifier);
            host.settle();
        }
    }
    void answerAll(double then = 0) {
        while (host.wire().openCount() > 0) {
            host.reply();
        }
        host.settle(then);
    }
};

} // namespace

struct Pull {
    int dx;
    QString keys;
    bool releaseImpulse;
    QString end;
    double charge;
    bool shot;
};
Q_DECLARE_METATYPE(Pull)

class WorkspacesTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // The trace in fractions of its box's height (downward, baseline 0.8): start, middle, peak (34), lowest.
    void impulseTrace_data() {
        QTest::addColumn<double>("softness");
        QTest::addColumn<int>("lowestIndex");
        QTest::addColumn<QList<double>>("fractions");
        QTest::newRow("crisp dips below the baseline") << 0.0 << 46 << QList{0.8000, 0.7654, 0.1087, 0.9388};
        QTest::newRow("natural") << 0.5 << 80 << QList{0.8000, 0.3306, 0.1014, 0.8000};
        QTest::newRow("soft") << 1.0 << 80 << QList{0.7968, 0.1934, 0.1005, 0.7999};
    }
    void impulseTrace() {
        QFETCH(double, softness);
        QFETCH(int, lowestIndex);
        QFETCH(QList<double>, fractions);
        const QSizeF box(200, 44);
        const QList<QPointF> points = ui::impulseTracePoints(softness, box);
        QCOMPARE(points.size(), 81);
        const QList<int> indices{0, 40, 34, lowestIndex};
        for (int i = 0; i < 4; ++i) {
            QVERIFY2(qAbs(points[indices[i]].y() / 44 - fractions[i]) < 1e-4, qPrintable(QString::number(i)));
        }
        QCOMPARE(points.at(40).x(), 100.0);
        QCOMPARE(points.last().x(), 200.0);
        for (const QPointF &p : points) {
            QVERIFY(p.y() >= points.at(34).y() - 1e-9 && p.y() <= points.at(lowestIndex).y() + 1e-9);
        }
        // The path starts on the baseline and runs straight through every point, open at the right edge.
        QPainterPath expected(QPointF(0, 0.8 * 44));
        for (const QPointF &p : points) {
            expected.lineTo(p);
        }
        QCOMPARE(ui::impulseTracePath(softness, box), expected);
    }

    // The cue travels 90 left with the clamped charge (non-finite: at rest); nothing else moves with it.
    void cuePadGeometry_data() {
        QTest::addColumn<double>("width");
        QTest::addColumn<double>("charge");
        QTest::addColumn<double>("tipX");
        QTest::newRow("half") << 500.0 << 0.5 << 279.0;
        QTest::newRow("negative") << 500.0 << -0.4 << 324.0;
        QTest::newRow("beyond full") << 500.0 << 1.7 << 234.0;
        QTest::newRow("nan") << 500.0 << qQNaN() << 324.0;
        QTest::newRow("infinite") << 500.0 << qInf() << 324.0;
        QTest::newRow("narrow") << 300.0 << 0.5 << 141.0;
    }
    void cuePadGeometry() {
        QFETCH(double, width);
        QFETCH(double, charge);
        QFETCH(double, tipX);
        const ui::CuePadGeometry g = ui::cuePadGeometry(width, charge);
        const double ballX = 0.69 * width;
        QCOMPARE(g.bounds, QRectF(0, 0, width, 164));
        QCOMPARE(g.rail, QRectF(10, 10, width - 20, 144));
        QCOMPARE(g.ballCenter, QPointF(ballX, 76));
        QCOMPARE(g.tip, QRectF(tipX - 2.5, 73.5, 5, 5));
        QCOMPARE(g.cue, QRectF(tipX - 156, 73.5, 156, 5));
        QCOMPARE(g.cueShadow, QRectF(tipX - 156, 76.5, 156, 7));
        QCOMPARE(g.aimLine, QLineF(ballX + 23, 76, width - 32, 76));
        QCOMPARE(g.hintCenter, QPointF(width / 2, 125));
        const QList<QPointF> sights{{13, 13},  {width / 2, 13},  {width - 13, 13},
                                    {13, 151}, {width / 2, 151}, {width - 13, 151}};
        QCOMPARE(g.sights, sights);
    }

    // The corners outside a rounded card do not press it. A request, or a sequence until its end, locks all.
    void impulseCards() {
        WorkspaceHost host(Section::impulses);
        host.controller().setIntensity(0.25);
        const QStringList controls{"tester.impulses.crisp", "tester.impulses.natural", "tester.impulses.soft",
                                   "tester.impulses.sequence", "tester.impulses.intensity"};
        auto *natural = host.find<ImpulseCard>("tester.impulses.natural");
        QTest::mouseClick(natural, Qt::LeftButton, {}, QPoint(1, 1));
        QTest::mouseClick(natural, Qt::LeftButton, {}, QPoint(natural->width() - 2, natural->height() - 2));
        QVERIFY(host.wire().sent().isEmpty());
        QTest::mouseClick(natural, Qt::LeftButton, {}, QPoint(7, natural->height() - 7));
        QCOMPARE(host.enabled(controls), "00000");
        QTest::mouseClick(host.find("tester.impulses.crisp"), Qt::LeftButton);
        QCOMPARE(host.wire().paths(), QStringList{"/v1/impulses"});
        host.reply();
        for (const auto &[style, key] : {std::pair{"crisp", 0},
                                         {"soft", 0},
                                         {"natural", int(Qt::Key_Space)},
                                         {"soft", int(Qt::Key_Return)}}) {
            host.wire().clearSent();
            auto *card = host.find<ImpulseCard>(QStringLiteral("tester.impulses.") + style);
            card->setFocus(Qt::TabFocusReason);
            key ? QTest::keyClick(card, Qt::Key(key)) : QTest::mouseClick(card, Qt::LeftButton);
            QCOMPARE(host.wire().paths(), QStringList{"/v1/impulses"});
            QCOMPARE(host.lastBody("style").toString(), style);
            QCOMPARE(host.lastBody("intensity").toDouble(), 0.25);
            host.reply();
        }
        // The sequence plays on after its reply; the cards wait for its end.
        QTest::mouseClick(host.find("tester.impulses.sequence"), Qt::LeftButton);
        QCOMPARE(host.lastPath(), "/v1/sequences");
        host.reply();
        QCOMPARE(host.enabled(controls), "00000");
        host.settle(1.0);
        QCOMPARE(host.enabled(controls), "11111");
    }

    // Which controls the timed, then the controlled page offer at each moment of one resonance.
    void pagesThroughOneResonance() {
        WorkspaceHost host(Section::resonance, ResonancePage::timed);
        const QStringList controls{"tester.timed.vibrate", "tester.resonance.mode", "tester.timed.intensity",
                                   "tester.timed.fineness", "tester.timed.duration"};
        QCOMPARE(host.enabled(controls), "11111");
        QTest::mouseClick(host.find("tester.timed.vibrate"), Qt::LeftButton);
        QCOMPARE(host.lastBody("mode").toString(), "timed");
        QCOMPARE(host.enabled(controls), "00111");
        host.reply();
        QCOMPARE(host.enabled(controls), "00111");
        // Esc while the duration update is in flight: the stop waits, the sliders lock.
        host.find<vibrelle::ui::ParameterSlider>("tester.timed.duration")->slider()->setValue(50);
        host.settle(throttle);
        QTest::keyClick(&host.window, Qt::Key_Escape);
        QCOMPARE(host.enabled(controls), "00000");
        host.reply();
        QCOMPARE(host.lastPath(), "/v1/stop");
        host.reply();
        QCOMPARE(host.enabled(controls), "11111");
        host.wire().clearSent();
        host.viewState.setResonancePage(ResonancePage::controlled);
        auto *pause = host.find<QPushButton>("tester.controlled.pause");
        const auto state = [&] {
            return host.enabled({"tester.controlled.start", "tester.controlled.pause",
                                 "tester.controlled.stop", "tester.resonance.mode",
                                 "tester.controlled.intensity", "tester.controlled.pulseRate",
                                 "tester.controlled.sharpness", "tester.controlled.transition"}) +
                   ' ' + pause->text();
        };
        QCOMPARE(state(), "10011111 Pausa");
        QTest::mouseClick(host.find("tester.controlled.start"), Qt::LeftButton);
        QCOMPARE(host.wire().paths(), QStringList{"/v1/resonance"});
        QCOMPARE(state(), "00101111 Pausa");
        host.reply();
        QCOMPARE(state(), "01101111 Pausa");
        QTest::mouseClick(pause, Qt::LeftButton);
        host.settle(throttle);
        host.reply({{"paused", true}});
        QCOMPARE(state(), "01101111 Riprendi");
        // A stop waiting behind the resume locks the sliders until it goes out.
        QTest::mouseClick(pause, Qt::LeftButton);
        host.settle(throttle);
        QTest::mouseClick(host.find("tester.controlled.stop"), Qt::LeftButton);
        QCOMPARE(state(), "01100000 Riprendi");
        QTest::mouseClick(pause, Qt::LeftButton); // a press meanwhile sends nothing
        host.settle(throttle);
        QCOMPARE(host.lastPath(), "/v1/resonance/resume");
        host.reply({{"paused", false}});
        QCOMPARE(host.lastPath(), "/v1/stop");
        QCOMPARE(state(), "01101111 Pausa");
        host.reply();
        QCOMPARE(state(), "10011111 Pausa");
        // A cue drag runs a controlled resonance that cannot be paused from here.
        host.controller().beginCueDrag();
        host.reply();
        QCOMPARE(state(), "00101111 Pausa");
    }

    // A press starts the gesture; its release, a lost one or leaving the page stops it; a11y's press taps.
    void gestureButtonAndPadDrags_data() {
        QTest::addColumn<bool>("keys");
        QTest::newRow("pointer") << false;
        QTest::newRow("Space") << true;
    }
    void gestureButtonAndPadDrags() {
        QFETCH(bool, keys);
        GesturePage page;
        WorkspaceHost &host = page.host;
        page.keys = keys;
        QVERIFY(QTest::qWaitForWindowActive(&host.window));
        page.pad->setFocus(Qt::TabFocusReason);
        // The continuous gesture leaves the sliders live, ignores the pad and keeps its lease.
        QTest::mouseClick(page.button, Qt::LeftButton);
        QCOMPARE(page.button->text(), "Ferma gesto");
        QCOMPARE(page.pad->texts().title, "Gesto continuo attivo");
        QCOMPARE(page.pad->texts().subtitle, "Muovi il dito e modifica i cursori.");
        host.reply();
        QCOMPARE(host.enabled({"tester.gesture.continuous", "tester.gesture.fineness",
                               "tester.gesture.reactivity", "tester.resonance.mode"}),
                 "1110");
        page.press();
        page.release();
        host.settle(0.5);
        QCOMPARE(host.wire().paths(), (QStringList{"/v1/resonance", "/v1/heartbeat"}));
        host.reply();
        QTest::mouseClick(page.button, Qt::LeftButton);
        QCOMPARE(host.lastPath(), "/v1/stop");
        QCOMPARE(page.button->text(), "Avvia gesto continuo");
        QCOMPARE(page.pad->texts().title, idleTitle);
        host.reply();
        host.controller().controlledResonance();
        host.reply();
        QVERIFY(!page.button->isEnabled());
        host.controller().stop();
        QVERIFY(!page.button->isEnabled());
        host.reply();
        QVERIFY(page.button->isEnabled());
        host.wire().clearSent();
        const QPoint emptySpot = page.pad->mapTo(&host.window, QPoint(20, page.pad->height() / 2));
        const auto fill = [&] { return host.window.grab().toImage().pixelColor(emptySpot); };
        const QColor idleFill = fill();
        QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(page.pad);
        QCOMPARE(accessible->role(), QAccessible::Button);
        QVERIFY(accessible->text(QAccessible::Description).contains("Spazio"));
        page.press();
        QCOMPARE(host.wire().paths(), QStringList{"/v1/resonance"});
        QVERIFY(!page.button->isEnabled()); // a pad drag cannot become a continuous gesture
        page.move({90, 60});
        QCOMPARE(page.pad->texts().title, draggingTitle);
        QVERIFY(fill() != idleFill && accessible->state().pressed);
        page.release();
        QCOMPARE(page.pad->texts().title, idleTitle);
        QCOMPARE(fill(), idleFill);
        host.reply();
        QCOMPARE(host.wire().paths(), (QStringList{"/v1/resonance", "/v1/stop"}));
        host.reply();
        page.press();
        host.reply();
        keys ? page.pad->clearFocus() : page.move({60, 50}, Qt::NoButton);
        QVERIFY(!page.pad->isPressed());
        host.reply();
        accessible->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
        host.reply();
        QCOMPARE(host.wire().paths().mid(4), (QStringList{"/v1/resonance", "/v1/stop"}));
        host.reply();
        // A press while a status request is out starts the gesture on a later movement.
        host.controller().verifyConnection();
        page.pad->setFocus(Qt::TabFocusReason);
        page.press();
        QCOMPARE(page.pad->texts().title, idleTitle);
        host.reply();
        QCOMPARE(host.lastPath(), "/v1/status");
        page.move({50, 52});
        QCOMPARE(host.lastPath(), "/v1/resonance");
        QCOMPARE(page.pad->texts().title, draggingTitle);
        host.viewState.setResonancePage(ResonancePage::timed);
        QVERIFY(!page.pad->isPressed());
        QVERIFY(!host.controller().gestureWanted());
    }

    // Only a charged release shoots; Esc cancels (the rest of the drag drives nothing). Keys: Left pulls 10
    // points, Shift+Left 40, Right eases back 10; Space or Return shoots; Esc or losing the focus cancels.
    void pullThenEnd_data() {
        rows<Pull>({
            {"half pull shoots", {-110, "", true, "release", 0.5, true}},
            {"pull to the right stays at rest", {100, "", true, "release", 0.0, false}},
            {"release impulse switched off", {-110, "", false, "release", 0.5, false}},
            {"escape cancels the shot", {-110, "", true, "escape", 0.5, false}},
            {"an unseen release shoots", {-110, "", true, "unseen", 0.5, true}},
            {"keys: 11 Left, Space", {0, "LLLLLLLLLLL", true, "release", 0.5, true}},
            {"keys: Shift, Right, Return", {0, "SSSLLLRRRR", true, "return", 0.5, true}},
            {"keys: escape cancels", {0, "LLLLLLLLLLL", true, "escape", 0.5, false}},
            {"keys: focus lost cancels", {0, "LLLLLLLLLLL", true, "focus", 0.5, false}},
        });
    }
    void pullThenEnd() {
        QFETCH(Pull, row);
        const auto &[dx, keys, releaseImpulse, end, charge, shot] = row;
        Table table;
        QVERIFY(QTest::qWaitForWindowActive(&table.host.window));
        table.pad->setFocus(Qt::TabFocusReason);
        WorkspaceHost &host = table.host;
        auto *box = host.find<QCheckBox>("tester.billiards.releaseImpulse");
        auto *bar = host.find<QProgressBar>("tester.billiards.chargeBar");
        if (!releaseImpulse) {
            QTest::mouseClick(box, Qt::LeftButton);
        }
        const double restTip = table.pad->geometry().tip.center().x();
        const TensionCurve::Sample pulled = host.controller().tensionCurve().sample(charge);
        keys.isEmpty() ? QTest::mousePress(table.pad, Qt::LeftButton, {}, table.pointer)
                       : table.type(keys.left(1));
        QVERIFY(host.viewState.cueInteractionActive());
        QCOMPARE(host.wire().paths(), QStringList{"/v1/resonance"});
        host.reply();
        QCOMPARE(table.pad->hintText(), pullingHint);
        keys.isEmpty() ? table.pull(dx) : table.type(keys.mid(1));
        QCOMPARE(table.charge->text(), ui::percentageText(charge));
        QCOMPARE(bar->value(), qRound(bar->maximum() * charge));
        QCOMPARE(table.pad->geometry().tip.center().x(), restTip - 90 * charge);
        host.settle(throttle);
        QCOMPARE(host.lastPath(), charge > 0 ? "/v1/resonance/update" : "/v1/resonance");
        QCOMPARE(host.lastBody("intensity").toDouble(), pulled.intensity);
        table.answerAll();
        if (end == "escape") {
            QTest::keyClick(&host.window, Qt::Key_Escape);
            QCOMPARE(table.pad->hintText(), idleHint);
            if (keys.isEmpty()) {
                table.pull(-40);
            }
        }
        if (end == "unseen") {
            table.pull(-10, Qt::NoButton);
        } else if (end == "focus") {
            table.pad->clearFocus();
        } else if (!keys.isEmpty()) {
            QTest::keyClick(table.pad, end == "return" ? Qt::Key_Return : Qt::Key_Space);
        } else {
            table.release();
        }
        QVERIFY(!host.viewState.cueInteractionActive());
        QCOMPARE(host.lastPath(), "/v1/stop");
        QCOMPARE(table.pad->hintText(), idleHint);
        QCOMPARE(table.charge->text(), "0%");
        QCOMPARE(table.pad->drawnCharge(), 0.0);
        table.answerAll(throttle);
        QCOMPARE(host.lastPath(), shot ? "/v1/impulses" : "/v1/stop");
        QCOMPARE(host.lastBody("intensity").toDouble(), shot ? pulled.intensity : 0.0);
        QCOMPARE(host.lastBody("style").toString(), shot ? "crisp" : "");
        host.controller().setReleaseImpulseEnabled(!releaseImpulse); // the box follows the controller
        QCOMPARE(box->isChecked(), !releaseImpulse);
    }

    // With "Pausa da fermo" a resting finger pauses; after a foreground stop the same drag begins anew.
    void cardDuringAPullAndAfterTheForegroundStop() {
        Table table;
        WorkspaceHost &host = table.host;
        auto *hold = host.find<ui::SegmentedPicker>("tester.billiards.hold");
        QVERIFY(!host.find("tester.billiards.curve.content")->isVisible());
        QTest::mouseClick(hold->segment(1), Qt::LeftButton);
        QTest::mousePress(table.pad, Qt::LeftButton, {}, table.pointer);
        table.answerAll();
        table.pull(-110); // half charge
        table.answerAll(throttle);
        table.answerAll();
        QVERIFY(!host.controller().controlsEnabled());
        QCOMPARE(host.enabled({"tester.billiards.hold", "tester.billiards.releaseImpulse",
                               "tester.billiards.curve", "tester.billiards.exponent",
                               "tester.billiards.curve.high.intensity"}),
                 "11111");
        TensionCurve expected = host.controller().tensionCurve();
        const auto slider = [&](const char *row) {
            return host.find<ui::ParameterSlider>(QStringLiteral("tester.billiards.curve.") + row)->slider();
        };
        slider("high.intensity")->setValue(slider("high.intensity")->maximum());
        slider("low.sharpness")->setValue(slider("low.sharpness")->maximum() / 4);
        expected.highIntensity = 1.0;
        expected.lowSharpness = 0.25;
        QVERIFY(host.controller().tensionCurve() == expected);
        host.settle(throttle);
        QCOMPARE(host.lastPath(), "/v1/resonance/update");
        QCOMPARE(host.lastBody("intensity").toDouble(), expected.sample(0.5).intensity);
        table.answerAll(0.3); // the finger rests
        QCOMPARE(host.lastPath(), "/v1/resonance/pause");
        QCOMPARE(table.pad->hintText(), pullingHint);
        host.reply({{"paused", true}});
        QCOMPARE(table.pad->hintText(), "Tensione in pausa · muovi per riprendere");
        host.controller().setHoldBehavior(HoldBehavior::maintain);
        QVERIFY(hold->segment(0)->isChecked());
        host.viewState.setCueInteractionActive(false); // what the window does on deactivation
        host.controller().stopOnDeactivation(QStringLiteral("il tester ha perso il primo piano"));
        QCOMPARE(table.pad->hintText(), idleHint);
        table.answerAll();
        table.pull(-10);
        QCOMPARE(host.lastPath(), "/v1/resonance");
        QVERIFY(host.controller().cueDragging());
        QCOMPARE(table.pad->hintText(), pullingHint);
    }
};

QTEST_MAIN(WorkspacesTest)
#include "test_workspaces.moc"
