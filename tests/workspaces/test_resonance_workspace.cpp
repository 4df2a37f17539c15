#include "WorkspaceHost.h"
#include "ui/pads/GesturePad.h"
#include "ui/workspaces/SegmentedPicker.h"

#include <QAccessible>
#include <QPushButton>

using namespace vibrelle::testing;
using vibrelle::ui::GesturePad;
using vibrelle::ui::ResonancePage;
using vibrelle::ui::Section;

namespace {

const QString idleTitle = QStringLiteral("Premi e trascina qui");
const QString draggingTitle = QStringLiteral("Trascina · rilascia per fermare");
const QString continuousTitle = QStringLiteral("Gesto continuo attivo");

// The gesture page, its pad and the continuous-gesture button. With `keys`, Space on the focused
// pad stands for the pointer: its press, auto-repeat and release for the press, move and release.
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

} // namespace

class ResonanceWorkspaceTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // Which controls the controlled page offers at each moment of one resonance.
    void controlledPageThroughOneResonance() {
        WorkspaceHost host(Section::resonance);
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
        QCOMPARE(host.lastBody("mode").toString(), "controlled");
        QCOMPARE(state(), "00101111 Pausa");
        host.reply();
        QCOMPARE(state(), "01101111 Pausa");
        // A value set through the accessibility interface goes out in the unit the row shows.
        QAccessible::queryAccessibleInterface(
            host.find<vibrelle::ui::ParameterSlider>("tester.controlled.intensity")->slider())
            ->valueInterface()
            ->setCurrentValue(70);
        host.settle(throttle);
        QCOMPARE(host.lastPath(), "/v1/resonance/update");
        QCOMPARE(host.lastBody("intensity").toDouble(), 0.7);
        host.reply();

        QTest::mouseClick(pause, Qt::LeftButton);
        host.settle(throttle);
        QCOMPARE(host.lastPath(), "/v1/resonance/pause");
        host.reply({{"paused", true}});
        QCOMPARE(state(), "01101111 Riprendi");
        // A stop waiting behind the resume locks the sliders until it goes out.
        QTest::mouseClick(pause, Qt::LeftButton);
        host.settle(throttle);
        QCOMPARE(host.lastPath(), "/v1/resonance/resume");
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

    void timedPageThroughOneResonance() {
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
        QCOMPARE(host.lastPath(), "/v1/resonance/update");
        QTest::keyClick(&host.window, Qt::Key_Escape);
        QCOMPARE(host.enabled(controls), "00000");
        host.reply();
        QCOMPARE(host.lastPath(), "/v1/stop");
        host.reply();
        QCOMPARE(host.enabled(controls), "11111");
    }

    // A press starts the gesture, its release stops it once the start is answered; a lost
    // release (a move with no button held; for the key, the focus moving away) or leaving the page
    // ends the drag too. The pad is a button that can be held; its accessible press is a tap.
    void gesturePadDrags_data() {
        QTest::addColumn<bool>("keys");
        QTest::newRow("pointer") << false;
        QTest::newRow("Space") << true;
    }
    void gesturePadDrags() {
        QFETCH(bool, keys);
        GesturePage page;
        WorkspaceHost &host = page.host;
        page.keys = keys;
        QVERIFY(QTest::qWaitForWindowActive(&host.window));
        page.pad->setFocus(Qt::TabFocusReason);
        const QPoint emptySpot = page.pad->mapTo(&host.window, QPoint(20, page.pad->height() / 2));
        const auto fill = [&] { return host.window.grab().toImage().pixelColor(emptySpot); };
        const QColor idleFill = fill();
        QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(page.pad);
        QCOMPARE(accessible->role(), QAccessible::Button);
        QVERIFY(accessible->text(QAccessible::Description).contains("Spazio"));
        page.press();
        QCOMPARE(host.wire().paths(), QStringList{"/v1/resonance"});
        QCOMPARE(host.lastBody("mode").toString(), "gesture");
        QVERIFY(!page.button->isEnabled()); // a pad drag cannot become a continuous gesture
        page.move({90, 60});
        QCOMPARE(host.wire().sent().size(), 1);
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
        QCOMPARE(host.lastPath(), "/v1/stop");
        host.reply();

        accessible->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
        host.reply();
        QCOMPARE(host.wire().paths().mid(4), (QStringList{"/v1/resonance", "/v1/stop"}));
        host.reply();

        page.pad->setFocus(Qt::TabFocusReason);
        page.press();
        QCOMPARE(host.lastPath(), "/v1/resonance");
        host.viewState.setResonancePage(ResonancePage::timed);
        QVERIFY(!page.pad->isPressed());
        QVERIFY(!host.controller().gestureWanted());
    }

    // The continuous gesture leaves the sliders live and ends on the button; another
    // resonance locks the button until its stop has completed.
    void continuousGestureButton() {
        GesturePage page;
        WorkspaceHost &host = page.host;
        QTest::mouseClick(page.button, Qt::LeftButton);
        QCOMPARE(host.wire().paths(), QStringList{"/v1/resonance"});
        QCOMPARE(page.button->text(), "Ferma gesto");
        QCOMPARE(page.pad->texts().title, continuousTitle);
        QCOMPARE(page.pad->texts().subtitle, "Muovi il dito e modifica i cursori.");
        host.reply();
        QCOMPARE(host.enabled({"tester.gesture.continuous", "tester.gesture.fineness",
                               "tester.gesture.reactivity", "tester.resonance.mode"}),
                 "1110");
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
    }

    // A press while a status request is out starts the gesture on a later movement.
    void padPressDuringAStatusRequest() {
        GesturePage page;
        page.host.controller().verifyConnection();
        page.press();
        QCOMPARE(page.pad->texts().title, idleTitle);
        page.host.reply();
        QCOMPARE(page.host.wire().paths(), QStringList{"/v1/status"});
        page.move({50, 52});
        QCOMPARE(page.host.lastPath(), "/v1/resonance");
        QCOMPARE(page.pad->texts().title, draggingTitle);
        QTest::mouseRelease(page.pad, Qt::LeftButton, {}, QPoint(50, 52));
    }
};

QTEST_MAIN(ResonanceWorkspaceTest)
#include "test_resonance_workspace.moc"
