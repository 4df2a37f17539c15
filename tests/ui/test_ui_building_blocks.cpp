// Slider rows, value texts and notes. When the percentage rows are enabled shows in the workspaces' tests.

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
