#include "WorkspaceHost.h"
#include "ui/pads/CuePad.h"
#include "ui/workspaces/SegmentedPicker.h"

#include <QCheckBox>
#include <QLabel>
#include <QProgressBar>
#include <QScopeGuard>

#include <tuple>

using namespace vibrelle;
using namespace vibrelle::testing;

namespace {

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
    // Press, confirmed start, a pull of 110 to the left: half charge.
    void halfPull() {
        QTest::mousePress(pad, Qt::LeftButton, {}, pointer);
        answerAll();
        pull(-110);
    }
};

} // namespace

class BilliardsWorkspaceTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // The pad turns the pull into the charge and the curve's values; the drag ends by a
    // release, by Esc (the stop-all: the rest of the drag drives nothing) or by a release the
    // pad never saw (a move with no button held). Only a charged release fires the shot.
    // From the keyboard (`keys`, the first key begins the pull) the same operations run: Left
    // pulls 10 points, Shift+Left 40, Right eases back 10; Space or Return shoots; Esc or moving
    // the focus away cancels the shot.
    void pullThenEnd_data() {
        QTest::addColumn<int>("dx");
        QTest::addColumn<QString>("keys");
        QTest::addColumn<bool>("releaseImpulse");
        QTest::addColumn<QString>("end");
        QTest::addColumn<double>("charge");
        QTest::addColumn<bool>("shot");
        QTest::newRow("half pull shoots") << -110 << "" << true << "release" << 0.5 << true;
        QTest::newRow("pull to the right stays at rest") << 100 << "" << true << "release" << 0.0 << false;
        QTest::newRow("release impulse switched off") << -110 << "" << false << "release" << 0.5 << false;
        QTest::newRow("escape cancels the shot") << -110 << "" << true << "escape" << 0.5 << false;
        QTest::newRow("an unseen release shoots") << -110 << "" << true << "unseen" << 0.5 << true;
        QTest::newRow("keys: 11 Left, Space") << 0 << "LLLLLLLLLLL" << true << "release" << 0.5 << true;
        QTest::newRow("keys: Shift, Right, Return") << 0 << "SSSLLLRRRR" << true << "return" << 0.5 << true;
        QTest::newRow("keys: escape cancels") << 0 << "LLLLLLLLLLL" << true << "escape" << 0.5 << false;
        QTest::newRow("keys: focus lost cancels") << 0 << "LLLLLLLLLLL" << true << "focus" << 0.5 << false;
    }
    void pullThenEnd() {
        QFETCH(int, dx);
        QFETCH(QString, keys);
        QFETCH(bool, releaseImpulse);
        QFETCH(QString, end);
        QFETCH(double, charge);
        QFETCH(bool, shot);
        Table table;
        if (!keys.isEmpty()) {
            QVERIFY(QTest::qWaitForWindowActive(&table.host.window));
            table.pad->setFocus(Qt::TabFocusReason);
        }
        WorkspaceHost &host = table.host;
        auto *box = host.find<QCheckBox>("tester.billiards.releaseImpulse");
        auto *bar = host.find<QProgressBar>("tester.billiards.chargeBar");
        if (!releaseImpulse) {
            QTest::mouseClick(box, Qt::LeftButton);
        }
        QCOMPARE(host.controller().releaseImpulseEnabled(), releaseImpulse);
        const double restTip = table.pad->geometry().tip.center().x();
        const TensionCurve::Sample pulled = host.controller().tensionCurve().sample(charge);

        keys.isEmpty() ? QTest::mousePress(table.pad, Qt::LeftButton, {}, table.pointer)
                       : table.type(keys.left(1));
        QVERIFY(host.viewState.cueInteractionActive());
        QCOMPARE(host.wire().paths(), QStringList{"/v1/resonance"});
        QCOMPARE(host.lastBody("mode").toString(), "controlled");
        QCOMPARE(host.lastBody("intensity").toDouble(), host.controller().tensionCurve().sample(0).intensity);
        host.reply();
        QCOMPARE(table.pad->hintText(), pullingHint);
        keys.isEmpty() ? table.pull(dx) : table.type(keys.mid(1));
        QCOMPARE(table.charge->text(), ui::percentageText(charge));
        QCOMPARE(bar->value(), qRound(bar->maximum() * charge));
        QCOMPARE(table.pad->geometry().tip.center().x(), restTip - 90 * charge);
        host.settle(throttle);
        QCOMPARE(host.lastPath(), charge > 0 ? "/v1/resonance/update" : "/v1/resonance");
        QCOMPARE(host.lastBody("intensity").toDouble(), pulled.intensity);
        QCOMPARE(host.lastBody("pulseRateHz").toDouble(), pulled.cadence);
        QCOMPARE(host.lastBody("sharpness").toDouble(), pulled.sharpness);
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
        QVERIFY(!host.controller().cueDragging());
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

    // After the stop for a lost foreground has completed, the next movement of the same drag
    // begins a new cue drag.
    void dragGoesOnAfterTheForegroundStop() {
        Table table;
        table.halfPull();
        table.host.viewState.setCueInteractionActive(false); // what the window does on deactivation
        table.host.controller().stopOnDeactivation(QStringLiteral("il tester ha perso il primo piano"));
        QCOMPARE(table.pad->hintText(), idleHint);
        table.answerAll();
        table.pull(-10);
        QCOMPARE(table.host.lastPath(), "/v1/resonance");
        QVERIFY(table.host.controller().cueDragging());
        QCOMPARE(table.pad->hintText(), pullingHint);
    }

    void exponentFollowsTheLocale() {
        const auto restore = qScopeGuard([previous = QLocale()] { QLocale::setDefault(previous); });
        for (const auto &[language, initial, afterOneStep] :
             {std::tuple{QLocale::Italian, "1,70", "1,75"}, std::tuple{QLocale::English, "1.70", "1.75"}}) {
            QLocale::setDefault(QLocale(language));
            WorkspaceHost host(ui::Section::billiards);
            auto *value = host.find<QLabel>("tester.billiards.exponent.value");
            auto *slider = host.find<QSlider>("tester.billiards.exponent");
            QCOMPARE(value->text(), initial);
            slider->setValue(slider->value() + 1);
            QCOMPARE(host.controller().tensionCurve().exponent, 1.75);
            QCOMPARE(value->text(), afterOneStep);
        }
    }

    // The card stays usable during a pull: each curve row writes its own field and the edit
    // reaches the running resonance; with "Pausa da fermo" a resting finger pauses, and the hint
    // says so once the service confirms. Rows and picker follow the controller.
    void cardDuringAPull() {
        Table table;
        WorkspaceHost &host = table.host;
        auto *hold = host.find<ui::SegmentedPicker>("tester.billiards.hold");
        QVERIFY(!host.find("tester.billiards.curve.content")->isVisible());
        QTest::mouseClick(host.find("tester.billiards.curve"), Qt::LeftButton);
        QVERIFY(host.find("tester.billiards.curve.content")->isVisible());
        QTest::mouseClick(hold->segment(1), Qt::LeftButton);
        QCOMPARE(host.controller().holdBehavior(), HoldBehavior::pause);
        table.halfPull();
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
        expected.highCadence = 42;
        host.controller().setTensionCurve(expected);
        QCOMPARE(host.find<ui::ParameterSlider>("tester.billiards.curve.high.cadence")->valueText(),
                 "42 imp/s");
    }
};

QTEST_MAIN(BilliardsWorkspaceTest)
#include "test_billiards_workspace.moc"
