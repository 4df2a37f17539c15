// Slider rows, value texts, the default enabling rule and notes.

#include "support/ControllerFixture.h"
#include "ui/BuildingBlocks.h"

#include <QSlider>
#include <QtTest>

using vibrelle::TesterController;
using vibrelle::testing::ControllerFixture;
using namespace vibrelle::ui;

class BuildingBlocksTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void percentageText_data() {
        QTest::addColumn<double>("value");
        QTest::addColumn<QString>("text");
        QTest::newRow("zero") << 0.0 << "0%";
        QTest::newRow("one") << 1.0 << "100%";
        QTest::newRow("half") << 0.5 << "50%";
        QTest::newRow("just below a half percent") << 0.004 << "0%";
        QTest::newRow("half a percent rounds up") << 0.005 << "1%";
        QTest::newRow("12.5 rounds up") << 0.125 << "13%";
    }
    void percentageText() {
        QFETCH(double, value);
        QFETCH(QString, text);
        QCOMPARE(vibrelle::ui::percentageText(value), text);
    }

    void numberText_data() {
        QTest::addColumn<double>("value");
        QTest::addColumn<QString>("text");
        QTest::newRow("below a half") << 0.49 << "0 ms";
        QTest::newRow("a half rounds up") << 0.5 << "1 ms";
        QTest::newRow("2.5 rounds up") << 2.5 << "3 ms";
        QTest::newRow("negative half rounds away from zero") << -0.5 << "-1 ms";
        QTest::newRow("no grouping") << 12000.0 << "12000 ms";
    }
    void numberText() {
        QFETCH(double, value);
        QFETCH(QString, text);
        QCOMPARE(vibrelle::ui::numberText(value, QStringLiteral("ms")), text);
    }

    // Intensity stays adjustable during any resonance, not during the sequence, never
    // while a stop is pending.
    void defaultEnablingRule() {
        ControllerFixture f;
        auto &c = f.c();
        QVERIFY(defaultSliderEnabled(c));

        c.verifyConnection();
        QVERIFY2(!defaultSliderEnabled(c), "a request in flight with no resonance");
        f.transport->replyOk();

        c.sequence();
        f.transport->replyOk();
        QVERIFY(c.effectRunning());
        QVERIFY2(!defaultSliderEnabled(c), "the sequence sets no resonance mode");
        f.advance(1.0);
        QVERIFY(!c.effectRunning());

        c.timedResonance();
        QVERIFY2(defaultSliderEnabled(c), "timed resonance starting");
        f.transport->replyOk();
        QVERIFY(defaultSliderEnabled(c));
        c.stop();
        f.transport->replyOk();

        c.controlledResonance();
        f.transport->replyOk();
        QVERIFY(defaultSliderEnabled(c));
        c.setIntensity(0.7);
        f.advance(0.1); // the live update goes out and stays in flight
        QVERIFY(c.requestInFlight());
        c.stop();
        QVERIFY(c.pendingStop());
        QVERIFY(c.resonanceMode().has_value());
        QVERIFY2(!defaultSliderEnabled(c), "stop pending while a mode is still set");
    }

    void percentageRowIsBoundBothWays() {
        ControllerFixture f;
        std::unique_ptr<ParameterSlider> row(percentageSlider(&f.c(), QStringLiteral("Intensità"),
                                                              &TesterController::intensity,
                                                              &TesterController::setIntensity));
        QSlider *slider = row->slider();
        QCOMPARE(slider->accessibleName(), QStringLiteral("Intensità"));
        QCOMPARE(row->valueText(), QStringLiteral("50%"));

        // The user moves the slider: the field follows continuously.
        slider->setFocus();
        QTest::keyClick(slider, Qt::Key_Right);
        QCOMPARE(f.c().intensity(), 0.51);
        QTest::keyClick(slider, Qt::Key_End);
        QCOMPARE(f.c().intensity(), 1.0);
        QCOMPARE(row->valueText(), QStringLiteral("100%"));
        slider->setValue(1234);
        QCOMPARE(f.c().intensity(), 0.1234);
        QCOMPARE(row->valueText(), QStringLiteral("12%"));

        // The controller changes the field: the row follows and writes nothing back.
        f.c().setIntensity(0.005);
        QCOMPARE(row->valueText(), QStringLiteral("1%"));
        QCOMPARE(f.c().intensity(), 0.005);
        QCOMPARE(slider->value(), 50);
    }

    void numberRowSnapsToItsStep() {
        ControllerFixture f;
        std::unique_ptr<ParameterSlider> row(
            numberSlider(&f.c(), QStringLiteral("Durata"), &TesterController::durationMilliseconds,
                         &TesterController::setDurationMilliseconds, 20, 2000, 10, QStringLiteral("ms"),
                         [] { return true; }));
        QSlider *slider = row->slider();
        QCOMPARE(row->valueText(), QStringLiteral("300 ms"));
        QTest::keyClick(slider, Qt::Key_Right);
        QCOMPARE(f.c().durationMilliseconds(), 310.0);
        QTest::keyClick(slider, Qt::Key_Home);
        QCOMPARE(f.c().durationMilliseconds(), 20.0);
        QTest::keyClick(slider, Qt::Key_End);
        QCOMPARE(f.c().durationMilliseconds(), 2000.0);

        // A value between the steps is shown as it is, the slider at the nearest step.
        f.c().setDurationMilliseconds(304.5);
        QCOMPARE(row->valueText(), QStringLiteral("305 ms"));
        QCOMPARE(slider->value(), 28);
        QCOMPARE(f.c().durationMilliseconds(), 304.5);
    }

    void disabledRowStillFollowsTheField() {
        ControllerFixture f;
        bool enabled = false;
        std::unique_ptr<ParameterSlider> row(
            numberSlider(&f.c(), QStringLiteral("Cadenza"), &TesterController::pulseRateHz,
                         &TesterController::setPulseRateHz, 1, 80, 1, QStringLiteral("imp/s"),
                         [&enabled] { return enabled; }));
        QVERIFY(!row->slider()->isEnabled());
        QTest::keyClick(row->slider(), Qt::Key_Right);
        QCOMPARE(f.c().pulseRateHz(), 30.0);
        f.c().setPulseRateHz(42);
        QCOMPARE(row->valueText(), QStringLiteral("42 imp/s"));

        enabled = true;
        row->refresh();
        QVERIFY(row->slider()->isEnabled());
    }

    void noteWrapsInsteadOfCutting() {
        std::unique_ptr<QLabel> label(
            note(QStringLiteral("Una nota lunga che non entra in una sola riga e deve "
                                "andare a capo invece di essere tagliata.")));
        const int oneLine = label->fontMetrics().lineSpacing();
        QVERIFY(label->hasHeightForWidth());
        QVERIFY(label->heightForWidth(120) > 2 * oneLine);
    }
};

QTEST_MAIN(BuildingBlocksTest)
#include "test_ui_building_blocks.moc"
