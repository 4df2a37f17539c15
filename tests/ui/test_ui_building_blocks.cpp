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
    // Whole numbers (halves away from zero), no grouping; percentages of a fraction.
    void valueTexts_data() {
        QTest::addColumn<double>("value");
        QTest::addColumn<QString>("percentage");
        QTest::addColumn<QString>("milliseconds");
        QTest::newRow("just below a half") << 0.0049 << "0%"
                                           << "0 ms";
        QTest::newRow("a half") << 0.005 << "1%"
                                << "0 ms";
        QTest::newRow("2.5") << 2.5 << "250%"
                             << "3 ms";
        QTest::newRow("negative half") << -0.5 << "-50%"
                                       << "-1 ms";
        QTest::newRow("no grouping") << 12000.0 << "1200000%"
                                     << "12000 ms";
    }
    void valueTexts() {
        QFETCH(double, value);
        QFETCH(QString, percentage);
        QFETCH(QString, milliseconds);
        QCOMPARE(percentageText(value), percentage);
        QCOMPARE(numberText(value, QStringLiteral("ms")), milliseconds);
    }

    // Intensity stays adjustable during any resonance, not during the sequence, never while a
    // stop is pending.
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

        c.timedResonance();
        QVERIFY2(defaultSliderEnabled(c), "timed resonance starting");
        f.transport->replyOk();
        c.stop();
        f.transport->replyOk();

        c.controlledResonance();
        f.transport->replyOk();
        QVERIFY(defaultSliderEnabled(c));
        c.setIntensity(0.7);
        f.advance(0.1); // the live update goes out and stays in flight
        c.stop();
        QVERIFY(c.pendingStop() && c.resonanceMode().has_value());
        QVERIFY2(!defaultSliderEnabled(c), "stop pending while a mode is still set");
    }

    void numberRowSnapsToItsStepAndFollowsItsRule() {
        ControllerFixture f;
        bool enabled = true;
        std::unique_ptr<ParameterSlider> row(
            numberSlider(&f.c(), QStringLiteral("Durata"), &TesterController::durationMilliseconds,
                         &TesterController::setDurationMilliseconds, 20, 2000, 10, QStringLiteral("ms"),
                         [&] { return enabled; }));
        QSlider *slider = row->slider();
        QCOMPARE(row->valueText(), "300 ms");
        QTest::keyClick(slider, Qt::Key_Right);
        QCOMPARE(f.c().durationMilliseconds(), 310.0);
        QTest::keyClick(slider, Qt::Key_Home);
        QCOMPARE(f.c().durationMilliseconds(), 20.0);

        // A value between the steps is shown as it is, the slider at the nearest step.
        f.c().setDurationMilliseconds(304.5);
        QCOMPARE(row->valueText(), "305 ms");
        QCOMPARE(slider->value(), 28);
        QCOMPARE(f.c().durationMilliseconds(), 304.5);

        // Disabled, the row takes no input but still follows the field.
        enabled = false;
        row->refresh();
        QVERIFY(!slider->isEnabled());
        QTest::keyClick(slider, Qt::Key_Right);
        QCOMPARE(f.c().durationMilliseconds(), 304.5);
        f.c().setDurationMilliseconds(420);
        QCOMPARE(row->valueText(), "420 ms");
    }

    void noteWrapsInsteadOfCutting() {
        std::unique_ptr<QLabel> label(note(QStringLiteral("Una nota lunga che non entra in una sola riga: "
                                                          "va a capo invece di essere tagliata.")));
        QVERIFY(label->hasHeightForWidth());
        QVERIFY(label->heightForWidth(120) > 2 * label->fontMetrics().lineSpacing());
    }
};

QTEST_MAIN(BuildingBlocksTest)
#include "test_ui_building_blocks.moc"
