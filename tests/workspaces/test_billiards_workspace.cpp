#include "WorkspaceHost.h"
#include "ui/BuildingBlocks.h"
#include "ui/pads/CuePad.h"
#include "ui/workspaces/SegmentedPicker.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QLabel>
#include <QLocale>
#include <QProgressBar>
#include <QSlider>
#include <QtTest>

using namespace vibrelle;
using namespace vibrelle::testing;
using vibrelle::ui::CuePad;
using vibrelle::ui::Section;
using vibrelle::ui::SegmentedPicker;

namespace {

constexpr double throttle = 0.06;
const QString idleHint = QStringLiteral("←  Premi e tira la stecca a sinistra");
const QString pullingHint = QStringLiteral("Tira a sinistra · rilascia per tirare");
const QString pausedHint = QStringLiteral("Tensione in pausa · muovi per riprendere");

// The billiards workspace, and a pointer on its table.
struct Table {
    WorkspaceHost host{Section::billiards};
    CuePad *pad = host.find<CuePad>(QStringLiteral("tester.billiards.pad"));
    QLabel *charge = host.find<QLabel>(QStringLiteral("tester.billiards.charge"));
    QProgressBar *chargeBar = host.find<QProgressBar>(QStringLiteral("tester.billiards.chargeBar"));
    QPoint pointer;

    void press(QPoint at) {
        pointer = at;
        QTest::mousePress(pad, Qt::LeftButton, {}, at);
        host.settle();
    }
    // Moves the pointer by dx in steps of 10, letting events run after each report.
    void pull(int dx) {
        const int steps = std::max(1, std::abs(dx) / 10);
        const QPoint start = pointer;
        for (int i = 1; i <= steps; ++i) {
            pointer = start + QPoint(dx * i / steps, (i % 2) * 3); // a little vertical wobble, ignored
            QTest::mouseMove(pad, pointer);
            host.settle();
        }
    }
    void release() {
        QTest::mouseRelease(pad, Qt::LeftButton, {}, pointer);
        host.settle();
    }
    // Answers every open exchange with success.
    void answerAll() {
        while (host.wire().openCount() > 0) {
            host.wire().replyOk();
            host.settle();
        }
    }
};

QWidget *curveRow(WorkspaceHost &host, const QString &name) {
    return host.find<QWidget>(name);
}

QString curveRowText(WorkspaceHost &host, const QString &name) {
    return curveRow(host, name)->findChild<QLabel *>(QStringLiteral("value"))->text();
}

QSlider *curveRowSlider(WorkspaceHost &host, const QString &name) {
    return curveRow(host, name)->findChild<QSlider *>(QStringLiteral("slider"));
}

} // namespace

class BilliardsWorkspaceTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void pullOf110PointsChargesHalfAndShoots();
    void pullToTheRightKeepsTheCueAtRest();
    void escapeDuringAPullCancelsTheShot();
    void losingTheForegroundCancelsTheShot();
    void aReleaseNeverSeenEndsTheDrag();
    void restingFingerPausesWithPauseOnHold();
    void releaseImpulseSwitch();
    void exponentFollowsTheLocale_data();
    void exponentFollowsTheLocale();
    void curveEditorEditsTheCurve();
    void controlsStayEnabledDuringAPull();
};

void BilliardsWorkspaceTest::pullOf110PointsChargesHalfAndShoots() {
    Table table;
    const double restTip = table.pad->geometry().tip.center().x();
    table.press(QPoint(400, 76));
    QVERIFY(table.host.viewState.cueInteractionActive());
    QCOMPARE(table.host.wire().paths(), QStringList{QStringLiteral("/v1/resonance")});
    const QJsonObject start = table.host.wire().last().json();
    QCOMPARE(start.value(QStringLiteral("mode")).toString(), QStringLiteral("controlled"));
    QCOMPARE(start.value(QStringLiteral("intensity")).toDouble(), 0.08);
    table.host.wire().replyOk();
    table.host.settle();
    QCOMPARE(table.pad->hintText(), pullingHint);

    table.pull(-110);
    QCOMPARE(table.charge->text(), QStringLiteral("50%"));
    QCOMPARE(table.chargeBar->value(), table.chargeBar->maximum() / 2);
    QCOMPARE(table.pad->drawnCharge(), 0.5);
    QCOMPARE(table.pad->geometry().tip.center().x(), restTip - 45);

    table.host.settle(throttle);
    QCOMPARE(table.host.wire().last().path(), QStringLiteral("/v1/resonance/update"));
    const QJsonObject update = table.host.wire().last().json();
    QVERIFY(qAbs(update.value(QStringLiteral("intensity")).toDouble() - 0.3016) < 1e-4);
    QVERIFY(qAbs(update.value(QStringLiteral("pulseRateHz")).toDouble() - 22.466) < 1e-3);
    QVERIFY(qAbs(update.value(QStringLiteral("sharpness")).toDouble() - 0.3462) < 1e-4);
    table.answerAll();

    table.release();
    QVERIFY(!table.host.viewState.cueInteractionActive());
    QCOMPARE(table.host.wire().last().path(), QStringLiteral("/v1/stop"));
    QCOMPARE(table.pad->hintText(), idleHint);
    QCOMPARE(table.charge->text(), QStringLiteral("0%"));
    table.answerAll();
    table.host.settle(throttle);
    QCOMPARE(table.host.wire().last().path(), QStringLiteral("/v1/impulses"));
    const QJsonObject shot = table.host.wire().last().json();
    QCOMPARE(shot.value(QStringLiteral("style")).toString(), QStringLiteral("crisp"));
    QVERIFY(qAbs(shot.value(QStringLiteral("intensity")).toDouble() - 0.3016) < 1e-4);
}

void BilliardsWorkspaceTest::pullToTheRightKeepsTheCueAtRest() {
    Table table;
    const double restTip = table.pad->geometry().tip.center().x();
    table.press(QPoint(200, 90));
    table.answerAll();
    table.pull(100);
    QCOMPARE(table.charge->text(), QStringLiteral("0%"));
    QCOMPARE(table.pad->drawnCharge(), 0.0);
    QCOMPARE(table.pad->geometry().tip.center().x(), restTip);
    table.host.settle(throttle);
    table.release();
    table.answerAll();
    table.host.settle(throttle);
    // No charge, no shot.
    QCOMPARE(table.host.wire().paths(),
             (QStringList{QStringLiteral("/v1/resonance"), QStringLiteral("/v1/stop")}));
}

void BilliardsWorkspaceTest::escapeDuringAPullCancelsTheShot() {
    Table table;
    table.press(QPoint(400, 76));
    table.answerAll();
    table.pull(-110);
    QCOMPARE(table.charge->text(), QStringLiteral("50%"));

    QTest::keyClick(&table.host.window, Qt::Key_Escape);
    QCOMPARE(table.pad->hintText(), idleHint);
    QCOMPARE(table.charge->text(), QStringLiteral("0%"));
    QCOMPARE(table.chargeBar->value(), 0);
    QCOMPARE(table.pad->drawnCharge(), 0.0);

    // The rest of the drag and its release drive nothing.
    table.pull(-40);
    QCOMPARE(table.charge->text(), QStringLiteral("0%"));
    table.release();
    table.answerAll();
    table.host.settle(throttle);
    QCOMPARE(table.host.wire().paths(),
             (QStringList{QStringLiteral("/v1/resonance"), QStringLiteral("/v1/stop")}));
    QVERIFY(!table.host.viewState.cueInteractionActive());
}

void BilliardsWorkspaceTest::losingTheForegroundCancelsTheShot() {
    // What the window does when the application is about to lose the foreground.
    const auto deactivate = [](Table &table) {
        table.host.viewState.setCueInteractionActive(false);
        table.host.controller().stopOnDeactivation(QStringLiteral("il tester ha perso il primo piano"));
    };

    {
        // The drag goes on while the stop is under way: its next movement asks for a new
        // cue drag, is refused, and the rest of the drag drives nothing.
        Table table;
        table.press(QPoint(400, 76));
        table.answerAll();
        table.pull(-110);
        deactivate(table);
        QCOMPARE(table.pad->hintText(), idleHint);
        table.pull(-10);
        QCOMPARE(table.charge->text(), QStringLiteral("0%"));
        table.answerAll();
        table.pull(-10);
        table.release();
        table.answerAll();
        table.host.settle(throttle);
        QCOMPARE(table.host.wire().paths(),
                 (QStringList{QStringLiteral("/v1/resonance"), QStringLiteral("/v1/stop")}));
    }
    {
        // Back in the foreground once the stop has completed: the next movement of the same
        // drag begins a new cue drag.
        Table table;
        table.press(QPoint(400, 76));
        table.answerAll();
        table.pull(-110);
        deactivate(table);
        table.answerAll();
        table.pull(-10);
        QCOMPARE(table.host.wire().last().path(), QStringLiteral("/v1/resonance"));
        QVERIFY(table.host.controller().cueDragging());
        QCOMPARE(table.pad->hintText(), pullingHint);
        table.release();
    }
}

void BilliardsWorkspaceTest::aReleaseNeverSeenEndsTheDrag() {
    Table table;
    table.press(QPoint(400, 76));
    table.answerAll();
    table.pull(-110);
    table.host.settle(throttle);
    table.answerAll();

    // The pointer comes back over the table with no button held.
    QMouseEvent move(QEvent::MouseMove, QPointF(250, 80), table.pad->mapToGlobal(QPointF(250, 80)),
                     Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(table.pad, &move);
    QVERIFY(!table.host.viewState.cueInteractionActive());
    QVERIFY(!table.host.controller().cueDragging());
    QCOMPARE(table.host.wire().last().path(), QStringLiteral("/v1/stop"));
    // It counts as a release: the shot follows the stop.
    table.answerAll();
    table.host.settle(throttle);
    QCOMPARE(table.host.wire().last().path(), QStringLiteral("/v1/impulses"));
}

void BilliardsWorkspaceTest::restingFingerPausesWithPauseOnHold() {
    Table table;
    auto *hold = table.host.find<SegmentedPicker>(QStringLiteral("tester.billiards.hold"));
    QCOMPARE(hold->segment(0)->text(), QStringLiteral("Mantieni tensione"));
    QCOMPARE(hold->segment(1)->text(), QStringLiteral("Pausa da fermo"));
    QVERIFY(hold->segment(0)->isChecked());
    QTest::mouseClick(hold->segment(1), Qt::LeftButton);
    QCOMPARE(table.host.controller().holdBehavior(), HoldBehavior::pause);

    table.press(QPoint(400, 76));
    table.answerAll();
    table.pull(-50);
    table.host.settle(0.3); // the finger rests
    QCOMPARE(table.host.wire().last().path(), QStringLiteral("/v1/resonance/update"));
    table.host.wire().replyOk();
    table.host.settle(0.3);
    QCOMPARE(table.host.wire().last().path(), QStringLiteral("/v1/resonance/pause"));
    QCOMPARE(table.pad->hintText(), pullingHint); // not before the service confirms
    table.host.wire().replyOk({{QStringLiteral("paused"), true}});
    table.host.settle();
    QCOMPARE(table.pad->hintText(), pausedHint);

    table.pull(-20);
    table.host.settle(throttle);
    while (table.host.wire().openCount() > 0) {
        const bool resume = table.host.wire().last().path() == QStringLiteral("/v1/resonance/resume");
        table.host.wire().replyOk({{QStringLiteral("paused"), !resume}});
        table.host.settle(throttle);
    }
    QCOMPARE(table.pad->hintText(), pullingHint);
    table.release();
}

void BilliardsWorkspaceTest::releaseImpulseSwitch() {
    Table table;
    auto *release = table.host.find<QCheckBox>(QStringLiteral("tester.billiards.releaseImpulse"));
    QCOMPARE(release->text(), QStringLiteral("Impulso al rilascio"));
    QVERIFY(release->isChecked());
    QTest::mouseClick(release, Qt::LeftButton);
    QVERIFY(!table.host.controller().releaseImpulseEnabled());

    table.press(QPoint(400, 76));
    table.answerAll();
    table.pull(-110);
    table.release();
    table.answerAll();
    table.host.settle(throttle);
    QVERIFY(!table.host.wire().paths().contains(QStringLiteral("/v1/impulses")));

    // The box follows the controller too.
    table.host.controller().setReleaseImpulseEnabled(true);
    QVERIFY(release->isChecked());
}

void BilliardsWorkspaceTest::exponentFollowsTheLocale_data() {
    QTest::addColumn<QLocale>("locale");
    QTest::addColumn<QString>("initial");
    QTest::addColumn<QString>("afterOneStep");
    QTest::newRow("italian") << QLocale(QLocale::Italian, QLocale::Italy) << "1,70"
                             << "1,75";
    QTest::newRow("english") << QLocale(QLocale::English, QLocale::UnitedStates) << "1.70"
                             << "1.75";
}

void BilliardsWorkspaceTest::exponentFollowsTheLocale() {
    QFETCH(QLocale, locale);
    QFETCH(QString, initial);
    QFETCH(QString, afterOneStep);

    const QLocale previous;
    QLocale::setDefault(locale);
    {
        WorkspaceHost host(Section::billiards);
        auto *value = host.find<QLabel>(QStringLiteral("tester.billiards.exponent.value"));
        auto *slider = host.find<QSlider>(QStringLiteral("tester.billiards.exponent"));
        QCOMPARE(value->text(), initial);
        QCOMPARE(slider->accessibleName(), QStringLiteral("Esponente della curva"));
        slider->setValue(slider->value() + 1);
        QCOMPARE(host.controller().tensionCurve().exponent, 1.75);
        QCOMPARE(value->text(), afterOneStep);
    }
    QLocale::setDefault(previous);
}

void BilliardsWorkspaceTest::curveEditorEditsTheCurve() {
    WorkspaceHost host(Section::billiards);
    auto *toggle = host.find<QAbstractButton>(QStringLiteral("tester.billiards.curve"));
    auto *content = host.find<QWidget>(QStringLiteral("tester.billiards.curve.content"));
    QCOMPARE(toggle->text(), QStringLiteral("Curva e valori iniziali/finali"));
    QVERIFY(!content->isVisible());
    QTest::mouseClick(toggle, Qt::LeftButton);
    QVERIFY(content->isVisible());

    const QList<QPair<QString, QString>> initial{
        {QStringLiteral("tester.billiards.curve.low.intensity"), QStringLiteral("8%")},
        {QStringLiteral("tester.billiards.curve.high.intensity"), QStringLiteral("80%")},
        {QStringLiteral("tester.billiards.curve.low.cadence"), QStringLiteral("8 imp/s")},
        {QStringLiteral("tester.billiards.curve.high.cadence"), QStringLiteral("55 imp/s")},
        {QStringLiteral("tester.billiards.curve.low.sharpness"), QStringLiteral("10%")},
        {QStringLiteral("tester.billiards.curve.high.sharpness"), QStringLiteral("90%")},
    };
    for (const auto &[name, text] : initial) {
        QCOMPARE(curveRowText(host, name), text);
    }

    // Each row writes its own field, and only that one.
    QSlider *highCadence = curveRowSlider(host, QStringLiteral("tester.billiards.curve.high.cadence"));
    highCadence->setValue(highCadence->maximum());
    TensionCurve expected;
    expected.highCadence = 60;
    QVERIFY(host.controller().tensionCurve() == expected);
    QCOMPARE(curveRowText(host, QStringLiteral("tester.billiards.curve.high.cadence")),
             QStringLiteral("60 imp/s"));
    QSlider *lowSharpness = curveRowSlider(host, QStringLiteral("tester.billiards.curve.low.sharpness"));
    lowSharpness->setValue(lowSharpness->maximum() / 4);
    expected.lowSharpness = 0.25;
    QVERIFY(host.controller().tensionCurve() == expected);

    // The rows follow the controller.
    expected.lowIntensity = 0.5;
    host.controller().setTensionCurve(expected);
    QCOMPARE(curveRowText(host, QStringLiteral("tester.billiards.curve.low.intensity")),
             QStringLiteral("50%"));
}

void BilliardsWorkspaceTest::controlsStayEnabledDuringAPull() {
    Table table;
    QTest::mouseClick(table.host.find<QAbstractButton>(QStringLiteral("tester.billiards.curve")),
                      Qt::LeftButton);
    table.press(QPoint(400, 76));
    table.answerAll();
    table.pull(-110);
    QVERIFY(!table.host.controller().controlsEnabled());

    QVERIFY(table.host.find<SegmentedPicker>(QStringLiteral("tester.billiards.hold"))->isEnabled());
    QVERIFY(table.host.find<QCheckBox>(QStringLiteral("tester.billiards.releaseImpulse"))->isEnabled());
    QVERIFY(table.host.find<QAbstractButton>(QStringLiteral("tester.billiards.curve"))->isEnabled());
    QVERIFY(table.host.find<QSlider>(QStringLiteral("tester.billiards.exponent"))->isEnabled());
    const QString high = QStringLiteral("tester.billiards.curve.high.intensity");
    QVERIFY(curveRowSlider(table.host, high)->isEnabled());

    // A curve change in the middle of the pull reaches the running resonance at once.
    table.host.settle(throttle);
    table.answerAll();
    QSlider *highIntensity = curveRowSlider(table.host, high);
    highIntensity->setValue(highIntensity->maximum());
    table.host.settle(throttle);
    QCOMPARE(table.host.wire().last().path(), QStringLiteral("/v1/resonance/update"));
    const double expected = TensionCurve{1.7, 0.08, 1.0, 8, 55, 0.1, 0.9}.sample(0.5).intensity;
    QVERIFY(qAbs(table.host.wire().last().json().value(QStringLiteral("intensity")).toDouble() - expected) <
            1e-9);
    table.release();
}

QTEST_MAIN(BilliardsWorkspaceTest)
#include "test_billiards_workspace.moc"
