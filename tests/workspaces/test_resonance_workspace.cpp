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

// The gesture page, its pad and the continuous-gesture button.
struct GesturePage {
    WorkspaceHost host{Section::resonance, ResonancePage::gesture};
    GesturePad *pad = host.find<GesturePad>("tester.gesture.pad");
    QPushButton *button = host.find<QPushButton>("tester.gesture.continuous");
    void press() { QTest::mousePress(pad, Qt::LeftButton, {}, QPoint(40, 50)); }
    void move(QPoint to, Qt::MouseButton held = Qt::LeftButton) {
        QMouseEvent event(QEvent::MouseMove, to, pad->mapToGlobal(to), held, held, Qt::NoModifier);
        QCoreApplication::sendEvent(pad, &event);
        host.settle();
    }
};

} // namespace

class ResonanceWorkspaceTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void pickerAndViewStateChooseThePage() {
        WorkspaceHost host(Section::resonance);
        auto *picker = host.find<vibrelle::ui::SegmentedPicker>("tester.resonance.mode");
        const auto shown = [&] {
            QString pages;
            for (const char *page : {"controlled", "gesture", "timed"}) {
                pages += host.find(QStringLiteral("tester.resonance.page.") + page)->isVisible() ? '1' : '0';
            }
            return pages;
        };
        QCOMPARE(shown(), "100");
        QTest::mouseClick(picker->segment(1), Qt::LeftButton);
        QCOMPARE(host.viewState.resonancePage(), ResonancePage::gesture);
        QCOMPARE(shown(), "010");
        picker->segment(1)->setFocus(Qt::TabFocusReason);
        QTest::keyClick(picker->segment(1), Qt::Key_Right);
        QCOMPARE(host.viewState.resonancePage(), ResonancePage::timed);

        // The page survives leaving the section; the window's state drives the picker.
        host.workspace->hide();
        host.workspace->show();
        QCOMPARE(shown(), "001");
        QVERIFY(picker->segment(2)->isChecked());
        host.viewState.setResonancePage(ResonancePage::controlled);
        QCOMPARE(shown(), "100");
        QVERIFY(picker->segment(0)->isChecked());
        QVERIFY(host.wire().sent().isEmpty());
    }

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
    // release (a move with no button held) or leaving the page ends the drag too.
    void gesturePadDrags() {
        GesturePage page;
        WorkspaceHost &host = page.host;
        const QPoint emptySpot = page.pad->mapTo(&host.window, QPoint(20, page.pad->height() / 2));
        const auto fill = [&] { return host.window.grab().toImage().pixelColor(emptySpot); };
        const QColor idleFill = fill();
        page.press();
        QCOMPARE(host.wire().paths(), QStringList{"/v1/resonance"});
        QCOMPARE(host.lastBody("mode").toString(), "gesture");
        QCOMPARE(page.pad->texts().title, draggingTitle);
        QVERIFY(fill() != idleFill);
        QVERIFY(!page.button->isEnabled()); // a pad drag cannot become a continuous gesture
        page.move({90, 60});
        QCOMPARE(host.wire().sent().size(), 1);
        QTest::mouseRelease(page.pad, Qt::LeftButton, {}, QPoint(90, 60));
        QCOMPARE(page.pad->texts().title, idleTitle);
        QCOMPARE(fill(), idleFill);
        host.reply();
        QCOMPARE(host.wire().paths(), (QStringList{"/v1/resonance", "/v1/stop"}));
        host.reply();

        page.press();
        host.reply();
        page.move({60, 50}, Qt::NoButton);
        QVERIFY(!page.pad->isPressed());
        QCOMPARE(host.lastPath(), "/v1/stop");
        host.reply();

        page.press();
        QCOMPARE(host.lastPath(), "/v1/resonance");
        host.viewState.setResonancePage(ResonancePage::timed);
        QVERIFY(!page.pad->isPressed());
        QVERIFY(!host.controller().gestureWanted());
    }

    // From the keyboard: holding Space on the pad is the finger on it (its auto-repeat a movement),
    // releasing Space or moving the focus away lifts it. The accessible press is a tap.
    void gesturePadFromTheKeyboard() {
        GesturePage page;
        WorkspaceHost &host = page.host;
        QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(page.pad);
        QCOMPARE(accessible->role(), QAccessible::Button);
        QVERIFY(accessible->text(QAccessible::Description).contains("Spazio"));
        QVERIFY(QTest::qWaitForWindowActive(&host.window));
        page.pad->setFocus(Qt::TabFocusReason);
        QTest::keyPress(page.pad, Qt::Key_Space);
        QCOMPARE(host.wire().paths(), QStringList{"/v1/resonance"});
        QCOMPARE(host.lastBody("mode").toString(), "gesture");
        QKeyEvent repeat(QEvent::KeyPress, Qt::Key_Space, Qt::NoModifier, " ", true);
        QCoreApplication::sendEvent(page.pad, &repeat);
        QCOMPARE(page.pad->texts().title, draggingTitle);
        QVERIFY(accessible->state().pressed);
        QTest::keyRelease(page.pad, Qt::Key_Space);
        QCOMPARE(page.pad->texts().title, idleTitle);
        host.reply();
        QCOMPARE(host.wire().paths(), (QStringList{"/v1/resonance", "/v1/stop"}));
        host.reply();

        QTest::keyPress(page.pad, Qt::Key_Space);
        host.reply();
        page.pad->clearFocus();
        QCOMPARE(host.lastPath(), "/v1/stop");
        host.reply();

        accessible->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
        host.reply();
        QCOMPARE(host.wire().paths().mid(4), (QStringList{"/v1/resonance", "/v1/stop"}));
        QVERIFY(!accessible->state().pressed);
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
