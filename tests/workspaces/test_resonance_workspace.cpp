#include "WorkspaceHost.h"
#include "ui/BuildingBlocks.h"
#include "ui/TesterPalette.h"
#include "ui/pads/GesturePad.h"
#include "ui/workspaces/SegmentedPicker.h"

#include <QPushButton>
#include <QSlider>
#include <QtTest>

using namespace vibrelle;
using namespace vibrelle::testing;
using vibrelle::ui::GesturePad;
using vibrelle::ui::ParameterSlider;
using vibrelle::ui::ResonancePage;
using vibrelle::ui::Section;
using vibrelle::ui::SegmentedPicker;

namespace {

const QStringList controlledSliders{
    QStringLiteral("tester.controlled.intensity"), QStringLiteral("tester.controlled.pulseRate"),
    QStringLiteral("tester.controlled.sharpness"), QStringLiteral("tester.controlled.transition")};
const QStringList timedSliders{QStringLiteral("tester.timed.intensity"),
                               QStringLiteral("tester.timed.fineness"),
                               QStringLiteral("tester.timed.duration")};

// Lets the pause/resume/update throttle (0.05 s after the last send) fire.
constexpr double throttle = 0.06;

struct ControlledView {
    QPushButton *start;
    QPushButton *pause;
    QPushButton *stop;
    SegmentedPicker *picker;
    QList<ParameterSlider *> sliders;

    explicit ControlledView(WorkspaceHost &host)
        : start(host.find<QPushButton>(QStringLiteral("tester.controlled.start")))
        , pause(host.find<QPushButton>(QStringLiteral("tester.controlled.pause")))
        , stop(host.find<QPushButton>(QStringLiteral("tester.controlled.stop")))
        , picker(host.find<SegmentedPicker>(QStringLiteral("tester.resonance.mode"))) {
        for (const QString &name : controlledSliders) {
            sliders.append(host.find<ParameterSlider>(name));
        }
    }

    // One row of the table: which controls are enabled, and the pause button's label.
    void expect(const char *moment, bool startOn, bool pauseOn, const QString &pauseText, bool stopOn,
                bool slidersOn, bool pickerOn) const {
        const QByteArray where = QByteArray("at \"") + moment + "\": ";
        QVERIFY2(start->isEnabled() == startOn, (where + "Avvia").constData());
        QVERIFY2(pause->isEnabled() == pauseOn, (where + "Pausa/Riprendi").constData());
        QVERIFY2(pause->text() == pauseText, (where + "label " + pause->text().toUtf8()).constData());
        QVERIFY2(stop->isEnabled() == stopOn, (where + "Ferma").constData());
        for (const auto *row : sliders) {
            QVERIFY2(row->slider()->isEnabled() == slidersOn,
                     (where + row->objectName().toUtf8()).constData());
        }
        QVERIFY2(picker->isEnabled() == pickerOn, (where + "picker").constData());
    }
};

// A failed check inside expect() ends the test, not just the helper.
#define EXPECT_ROW(view, ...)                                                                                \
    do {                                                                                                     \
        (view).expect(__VA_ARGS__);                                                                          \
        if (QTest::currentTestFailed()) {                                                                    \
            return;                                                                                          \
        }                                                                                                    \
    } while (false)

QColor pixelAt(QWidget &window, QWidget *child, QPoint local) {
    return window.grab().toImage().pixelColor(child->mapTo(&window, local));
}

QColor blend(const QColor &under, const QColor &over, double alpha) {
    return QColor::fromRgbF(static_cast<float>(under.redF() * (1 - alpha) + over.redF() * alpha),
                            static_cast<float>(under.greenF() * (1 - alpha) + over.greenF() * alpha),
                            static_cast<float>(under.blueF() * (1 - alpha) + over.blueF() * alpha));
}

bool near(const QColor &a, const QColor &b, int tolerance = 3) {
    return qAbs(a.red() - b.red()) <= tolerance && qAbs(a.green() - b.green()) <= tolerance &&
           qAbs(a.blue() - b.blue()) <= tolerance;
}

} // namespace

class ResonanceWorkspaceTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void firstDisplayShowsTheControlledPageWithDefaults();
    void pickerAndViewStateChooseThePage();
    void pageSurvivesLeavingTheSection();
    void slidersCoverTheirRanges_data();
    void slidersCoverTheirRanges();
    void controlledPageThroughOneResonance();
    void cueDragDisablesPauseButton();
    void timedPageThroughOneResonance();

    void gesturePadPressAndRelease();
    void gesturePadFillFollowsTheWantedGesture();
    void gesturePadEndsTheDragWhenThePointerIsLost();
    void continuousGestureButton();
    void gestureButtonWaitsForOtherResonances();
    void padPressDuringAStatusRequestStartsOnALaterMovement();
};

void ResonanceWorkspaceTest::firstDisplayShowsTheControlledPageWithDefaults() {
    WorkspaceHost host(Section::resonance);
    auto *picker = host.find<SegmentedPicker>(QStringLiteral("tester.resonance.mode"));
    QCOMPARE(picker->count(), 3);
    QCOMPARE(picker->segment(0)->text(), QStringLiteral("Controllata"));
    QCOMPARE(picker->segment(1)->text(), QStringLiteral("Gesto"));
    QCOMPARE(picker->segment(2)->text(), QStringLiteral("Temporizzata"));
    QVERIFY(picker->segment(0)->isChecked());
    QCOMPARE(picker->accessibleName(), QStringLiteral("Modalità risonanza"));
    QVERIFY(host.find<QWidget>(QStringLiteral("tester.resonance.page.controlled"))->isVisible());
    QVERIFY(!host.find<QWidget>(QStringLiteral("tester.resonance.page.gesture"))->isVisible());
    QVERIFY(!host.find<QWidget>(QStringLiteral("tester.resonance.page.timed"))->isVisible());

    const QStringList controlledTexts{"50%", "30 imp/s", "50%", "40 ms"};
    for (int i = 0; i < controlledSliders.size(); ++i) {
        QCOMPARE(host.find<ParameterSlider>(controlledSliders.at(i))->valueText(), controlledTexts.at(i));
    }
    const QStringList timedTexts{"50%", "50%", "300 ms"};
    for (int i = 0; i < timedSliders.size(); ++i) {
        QCOMPARE(host.find<ParameterSlider>(timedSliders.at(i))->valueText(), timedTexts.at(i));
    }
    QCOMPARE(host.find<QPushButton>(QStringLiteral("tester.controlled.start"))->text(),
             QStringLiteral("Avvia"));
    QCOMPARE(host.find<QPushButton>(QStringLiteral("tester.timed.vibrate"))->text(), QStringLiteral("Vibra"));
}

void ResonanceWorkspaceTest::pickerAndViewStateChooseThePage() {
    WorkspaceHost host(Section::resonance);
    auto *picker = host.find<SegmentedPicker>(QStringLiteral("tester.resonance.mode"));
    auto *gesture = host.find<QWidget>(QStringLiteral("tester.resonance.page.gesture"));
    auto *timed = host.find<QWidget>(QStringLiteral("tester.resonance.page.timed"));

    QTest::mouseClick(picker->segment(1), Qt::LeftButton);
    QCOMPARE(host.viewState.resonancePage(), ResonancePage::gesture);
    QVERIFY(gesture->isVisible());
    QVERIFY(!host.find<QWidget>(QStringLiteral("tester.resonance.page.controlled"))->isVisible());

    // Arrow keys move the choice along the segments.
    picker->segment(1)->setFocus(Qt::TabFocusReason);
    QTest::keyClick(picker->segment(1), Qt::Key_Right);
    QCOMPARE(host.viewState.resonancePage(), ResonancePage::timed);
    QVERIFY(timed->isVisible());
    QVERIFY(!gesture->isVisible());

    // The window's state drives the picker too.
    host.viewState.setResonancePage(ResonancePage::controlled);
    QVERIFY(picker->segment(0)->isChecked());
    QVERIFY(!timed->isVisible());

    // Switching pages sends nothing.
    QVERIFY(host.wire().sent().isEmpty());
}

void ResonanceWorkspaceTest::pageSurvivesLeavingTheSection() {
    WorkspaceHost host(Section::resonance);
    auto *picker = host.find<SegmentedPicker>(QStringLiteral("tester.resonance.mode"));
    QTest::mouseClick(picker->segment(2), Qt::LeftButton);
    host.workspace->hide();
    host.workspace->show();
    QVERIFY(picker->segment(2)->isChecked());
    QVERIFY(host.find<QWidget>(QStringLiteral("tester.resonance.page.timed"))->isVisible());
    QCOMPARE(host.viewState.resonancePage(), ResonancePage::timed);
}

void ResonanceWorkspaceTest::slidersCoverTheirRanges_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("property");
    QTest::addColumn<double>("minimum");
    QTest::addColumn<double>("maximum");
    QTest::addColumn<double>("secondStep");
    QTest::newRow("cadence") << "tester.controlled.pulseRate" << QByteArray("pulseRateHz") << 1.0 << 60.0
                             << 2.0;
    QTest::newRow("transition") << "tester.controlled.transition" << QByteArray("transitionMilliseconds")
                                << 0.0 << 1000.0 << 10.0;
    QTest::newRow("duration") << "tester.timed.duration" << QByteArray("durationMilliseconds") << 20.0
                              << 2000.0 << 30.0;
    QTest::newRow("sharpness") << "tester.controlled.sharpness" << QByteArray("sharpness") << 0.0 << 1.0
                               << -1.0;
    QTest::newRow("fineness") << "tester.timed.fineness" << QByteArray("fineness") << 0.0 << 1.0 << -1.0;
}

void ResonanceWorkspaceTest::slidersCoverTheirRanges() {
    QFETCH(QString, name);
    QFETCH(QByteArray, property);
    QFETCH(double, minimum);
    QFETCH(double, maximum);
    QFETCH(double, secondStep);

    WorkspaceHost host(Section::resonance);
    QSlider *slider = host.find<ParameterSlider>(name)->slider();
    slider->setValue(slider->minimum());
    QCOMPARE(host.controller().property(property.constData()).toDouble(), minimum);
    slider->setValue(slider->maximum());
    QCOMPARE(host.controller().property(property.constData()).toDouble(), maximum);
    if (secondStep >= 0) {
        slider->setValue(slider->minimum() + 1);
        QCOMPARE(host.controller().property(property.constData()).toDouble(), secondStep);
    }
}

void ResonanceWorkspaceTest::controlledPageThroughOneResonance() {
    WorkspaceHost host(Section::resonance);
    const ControlledView view(host);
    const QString pausa = QStringLiteral("Pausa");
    const QString riprendi = QStringLiteral("Riprendi");

    EXPECT_ROW(view, "idle", true, false, pausa, false, true, true);

    QTest::mouseClick(view.start, Qt::LeftButton);
    QCOMPARE(host.wire().paths(), QStringList{QStringLiteral("/v1/resonance")});
    QCOMPARE(host.wire().last().json().value(QStringLiteral("mode")).toString(),
             QStringLiteral("controlled"));
    EXPECT_ROW(view, "start sent, reply pending", false, false, pausa, true, true, false);

    host.wire().replyOk();
    host.settle();
    EXPECT_ROW(view, "running", false, true, pausa, true, true, false);

    QTest::mouseClick(view.pause, Qt::LeftButton);
    host.settle(throttle);
    QCOMPARE(host.wire().last().path(), QStringLiteral("/v1/resonance/pause"));
    host.wire().replyOk({{QStringLiteral("paused"), true}});
    host.settle();
    EXPECT_ROW(view, "paused", false, true, riprendi, true, true, false);

    // Resume goes out; the stop asked for meanwhile waits behind it.
    QTest::mouseClick(view.pause, Qt::LeftButton);
    host.settle(throttle);
    QCOMPARE(host.wire().last().path(), QStringLiteral("/v1/resonance/resume"));
    QTest::mouseClick(view.stop, Qt::LeftButton);
    QCOMPARE(host.wire().last().path(), QStringLiteral("/v1/resonance/resume"));
    EXPECT_ROW(view, "stop pending behind another request", false, true, riprendi, true, false, false);
    const int sentBeforePress = static_cast<int>(host.wire().sent().size());
    QTest::mouseClick(view.pause, Qt::LeftButton);
    host.settle(throttle);
    QCOMPARE(host.wire().sent().size(), sentBeforePress);

    host.wire().replyOk({{QStringLiteral("paused"), false}});
    host.settle();
    QCOMPARE(host.wire().last().path(), QStringLiteral("/v1/stop"));
    EXPECT_ROW(view, "stop sent, reply pending", false, true, pausa, true, true, false);

    host.wire().replyOk();
    host.settle();
    EXPECT_ROW(view, "after the stop reply", true, false, pausa, false, true, true);
}

void ResonanceWorkspaceTest::cueDragDisablesPauseButton() {
    WorkspaceHost host(Section::resonance);
    const ControlledView view(host);
    host.controller().beginCueDrag();
    host.wire().replyOk();
    host.settle();
    QVERIFY(host.controller().effectRunning());
    QVERIFY(!view.pause->isEnabled());
    QVERIFY(view.stop->isEnabled());
}

void ResonanceWorkspaceTest::timedPageThroughOneResonance() {
    WorkspaceHost host(Section::resonance);
    host.viewState.setResonancePage(ResonancePage::timed);
    auto *vibrate = host.find<QPushButton>(QStringLiteral("tester.timed.vibrate"));
    auto *picker = host.find<SegmentedPicker>(QStringLiteral("tester.resonance.mode"));
    const auto slidersEnabled = [&host](bool enabled) {
        for (const QString &name : timedSliders) {
            if (host.find<ParameterSlider>(name)->slider()->isEnabled() != enabled) {
                return false;
            }
        }
        return true;
    };
    QVERIFY(vibrate->isEnabled());
    QVERIFY(slidersEnabled(true));

    QTest::mouseClick(vibrate, Qt::LeftButton);
    QCOMPARE(host.wire().last().json().value(QStringLiteral("mode")).toString(), QStringLiteral("timed"));
    QVERIFY(!vibrate->isEnabled());
    QVERIFY(!picker->isEnabled());
    QVERIFY(slidersEnabled(true));

    host.wire().replyOk();
    host.settle();
    QVERIFY(!vibrate->isEnabled());
    QVERIFY(slidersEnabled(true));

    // Esc while the duration update is in flight: the stop waits, the sliders lock.
    host.find<ParameterSlider>(QStringLiteral("tester.timed.duration"))->slider()->setValue(50);
    host.settle(throttle);
    QCOMPARE(host.wire().last().path(), QStringLiteral("/v1/resonance/update"));
    QTest::keyClick(&host.window, Qt::Key_Escape);
    QVERIFY(slidersEnabled(false));
    host.wire().replyOk();
    host.settle();
    QCOMPARE(host.wire().last().path(), QStringLiteral("/v1/stop"));
    host.wire().replyOk();
    host.settle();
    QVERIFY(vibrate->isEnabled());
    QVERIFY(picker->isEnabled());
    QVERIFY(slidersEnabled(true));
}

void ResonanceWorkspaceTest::gesturePadPressAndRelease() {
    WorkspaceHost host(Section::resonance);
    host.viewState.setResonancePage(ResonancePage::gesture);
    auto *pad = host.find<GesturePad>(QStringLiteral("tester.gesture.pad"));
    auto *button = host.find<QPushButton>(QStringLiteral("tester.gesture.continuous"));
    QCOMPARE(pad->height(), 104);
    QCOMPARE(pad->texts().title, QStringLiteral("Premi e trascina qui"));
    QCOMPARE(pad->texts().subtitle, QStringLiteral("Il movimento del trackpad guida la risonanza."));

    QTest::mousePress(pad, Qt::LeftButton, {}, QPoint(40, 50));
    QCOMPARE(host.wire().paths(), QStringList{QStringLiteral("/v1/resonance")});
    QCOMPARE(host.wire().last().json().value(QStringLiteral("mode")).toString(), QStringLiteral("gesture"));
    QCOMPARE(pad->texts().title, QStringLiteral("Trascina · rilascia per fermare"));
    QCOMPARE(pad->texts().subtitle, QStringLiteral("Il movimento del trackpad guida la risonanza."));
    // During a pad drag the button cannot turn it into a continuous gesture.
    QCOMPARE(button->text(), QStringLiteral("Avvia gesto continuo"));
    QVERIFY(!button->isEnabled());

    QTest::mouseMove(pad, QPoint(90, 60));
    host.settle();
    QCOMPARE(host.wire().sent().size(), 1);

    QTest::mouseRelease(pad, Qt::LeftButton, {}, QPoint(90, 60));
    QCOMPARE(pad->texts().title, QStringLiteral("Premi e trascina qui"));
    // The stop waits for the start's reply, then goes out.
    host.wire().replyOk();
    host.settle();
    QCOMPARE(host.wire().paths(), (QStringList{QStringLiteral("/v1/resonance"), QStringLiteral("/v1/stop")}));
}

void ResonanceWorkspaceTest::gesturePadFillFollowsTheWantedGesture() {
    WorkspaceHost host(Section::resonance);
    host.viewState.setResonancePage(ResonancePage::gesture);
    auto *pad = host.find<GesturePad>(QStringLiteral("tester.gesture.pad"));
    const QPoint emptySpot(20, pad->height() / 2); // inside the border, left of the content
    const QColor background = host.window.palette().color(QPalette::Window);
    const QColor violet = ui::TesterPalette::violet();

    const QColor idle = pixelAt(host.window, pad, emptySpot);
    QVERIFY2(near(idle, blend(background, violet, 0.055)), qPrintable(idle.name()));

    QTest::mousePress(pad, Qt::LeftButton, {}, QPoint(40, 50));
    host.settle();
    const QColor pressed = pixelAt(host.window, pad, emptySpot);
    QVERIFY2(near(pressed, blend(background, violet, 0.14)), qPrintable(pressed.name()));

    QTest::mouseRelease(pad, Qt::LeftButton, {}, QPoint(40, 50));
    host.settle();
    QCOMPARE(pixelAt(host.window, pad, emptySpot), idle);
}

void ResonanceWorkspaceTest::gesturePadEndsTheDragWhenThePointerIsLost() {
    WorkspaceHost host(Section::resonance);
    host.viewState.setResonancePage(ResonancePage::gesture);
    auto *pad = host.find<GesturePad>(QStringLiteral("tester.gesture.pad"));

    // A move with no button held: the release happened where we could not see it.
    QTest::mousePress(pad, Qt::LeftButton, {}, QPoint(40, 50));
    host.wire().replyOk();
    host.settle();
    QMouseEvent move(QEvent::MouseMove, QPointF(60, 50), pad->mapToGlobal(QPointF(60, 50)), Qt::NoButton,
                     Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(pad, &move);
    QVERIFY(!pad->isPressed());
    QCOMPARE(host.wire().last().path(), QStringLiteral("/v1/stop"));
    host.wire().replyOk();
    host.settle();

    // Leaving the page in the middle of a drag ends it too.
    QTest::mousePress(pad, Qt::LeftButton, {}, QPoint(40, 50));
    QCOMPARE(host.wire().last().path(), QStringLiteral("/v1/resonance"));
    host.viewState.setResonancePage(ResonancePage::timed);
    QVERIFY(!pad->isPressed());
    QVERIFY(!host.controller().gestureWanted());
}

void ResonanceWorkspaceTest::continuousGestureButton() {
    WorkspaceHost host(Section::resonance);
    host.viewState.setResonancePage(ResonancePage::gesture);
    auto *pad = host.find<GesturePad>(QStringLiteral("tester.gesture.pad"));
    auto *button = host.find<QPushButton>(QStringLiteral("tester.gesture.continuous"));
    QCOMPARE(button->text(), QStringLiteral("Avvia gesto continuo"));
    QVERIFY(button->isEnabled());

    QTest::mouseClick(button, Qt::LeftButton);
    QCOMPARE(host.wire().paths(), QStringList{QStringLiteral("/v1/resonance")});
    QCOMPARE(button->text(), QStringLiteral("Ferma gesto"));
    QVERIFY(button->isEnabled()); // even though controls are disabled
    QCOMPARE(pad->texts().title, QStringLiteral("Gesto continuo attivo"));
    QCOMPARE(pad->texts().subtitle, QStringLiteral("Muovi il dito e modifica i cursori."));
    host.wire().replyOk();
    host.settle();

    // The sliders stay live; a pad drag neither starts nor stops anything.
    QVERIFY(host.find<ParameterSlider>(QStringLiteral("tester.gesture.fineness"))->slider()->isEnabled());
    QVERIFY(host.find<ParameterSlider>(QStringLiteral("tester.gesture.reactivity"))->slider()->isEnabled());
    QTest::mousePress(pad, Qt::LeftButton, {}, QPoint(40, 50));
    QTest::mouseMove(pad, QPoint(80, 40));
    host.settle();
    QTest::mouseRelease(pad, Qt::LeftButton, {}, QPoint(80, 40));
    host.settle(throttle);
    QCOMPARE(host.wire().sent().size(), 1);
    QCOMPARE(pad->texts().title, QStringLiteral("Gesto continuo attivo"));

    QTest::mouseClick(button, Qt::LeftButton);
    QCOMPARE(host.wire().last().path(), QStringLiteral("/v1/stop"));
    QCOMPARE(button->text(), QStringLiteral("Avvia gesto continuo"));
    QCOMPARE(pad->texts().title, QStringLiteral("Premi e trascina qui"));
}

void ResonanceWorkspaceTest::gestureButtonWaitsForOtherResonances() {
    WorkspaceHost host(Section::resonance);
    auto *button = host.find<QPushButton>(QStringLiteral("tester.gesture.continuous"));
    QTest::mouseClick(host.find<QPushButton>(QStringLiteral("tester.controlled.start")), Qt::LeftButton);
    host.wire().replyOk();
    host.settle();
    QVERIFY(!button->isEnabled());

    host.controller().stop();
    QVERIFY(!button->isEnabled()); // until the stop has completed
    host.wire().replyOk();
    host.settle();
    QVERIFY(button->isEnabled());
}

void ResonanceWorkspaceTest::padPressDuringAStatusRequestStartsOnALaterMovement() {
    WorkspaceHost host(Section::resonance);
    host.viewState.setResonancePage(ResonancePage::gesture);
    auto *pad = host.find<GesturePad>(QStringLiteral("tester.gesture.pad"));
    host.controller().verifyConnection();
    QCOMPARE(host.wire().paths(), QStringList{QStringLiteral("/v1/status")});

    QTest::mousePress(pad, Qt::LeftButton, {}, QPoint(40, 50));
    QCOMPARE(pad->texts().title, QStringLiteral("Premi e trascina qui"));
    QCOMPARE(host.wire().sent().size(), 1);

    host.wire().replyOk();
    host.settle();
    QCOMPARE(host.wire().sent().size(), 1);
    QTest::mouseMove(pad, QPoint(50, 52));
    host.settle();
    QCOMPARE(host.wire().last().path(), QStringLiteral("/v1/resonance"));
    QCOMPARE(pad->texts().title, QStringLiteral("Trascina · rilascia per fermare"));
    QTest::mouseRelease(pad, Qt::LeftButton, {}, QPoint(50, 52));
}

QTEST_MAIN(ResonanceWorkspaceTest)
#include "test_resonance_workspace.moc"
