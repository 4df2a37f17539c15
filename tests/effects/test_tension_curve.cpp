// The tension curve: worked values of the initial curve, end points, monotonicity,
// the exponent's range, and the clamps and fallbacks that keep every sample in range.

#include "EffectsFixture.h"

#include <limits>
#include <random>

using vibrelle::TensionCurve;

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

// The three parameters as points on [0, 1]: the shape the curve applies to the charge.
QList<double> shapes(const TensionCurve::Sample &s, const TensionCurve &range) {
    return {(s.intensity - range.lowIntensity) / (range.highIntensity - range.lowIntensity),
            (s.cadence - range.lowCadence) / (range.highCadence - range.lowCadence),
            (s.sharpness - range.lowSharpness) / (range.highSharpness - range.lowSharpness)};
}

} // namespace

class TensionCurveTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initialCurveValues_data() {
        QTest::addColumn<double>("charge");
        QTest::addColumn<double>("intensity");
        QTest::addColumn<double>("cadence");
        QTest::addColumn<double>("sharpness");
        QTest::newRow("0") << 0.0 << 0.08 << 8.0 << 0.1;
        QTest::newRow("0.25") << 0.25 << 0.1482 << 12.452 << 0.1758;
        QTest::newRow("0.5") << 0.5 << 0.3016 << 22.466 << 0.3462;
        QTest::newRow("0.75") << 0.75 << 0.5215 << 36.821 << 0.5906;
        QTest::newRow("1") << 1.0 << 0.8 << 55.0 << 0.9;
        // Charges outside [0, 1], and NaN, behave as the nearest end (NaN and +inf as 0).
        QTest::newRow("-0.3") << -0.3 << 0.08 << 8.0 << 0.1;
        QTest::newRow("NaN") << kNaN << 0.08 << 8.0 << 0.1;
        QTest::newRow("+inf") << kInf << 0.08 << 8.0 << 0.1;
        QTest::newRow("1.7") << 1.7 << 0.8 << 55.0 << 0.9;
    }
    void initialCurveValues() {
        QFETCH(double, charge);
        QFETCH(double, intensity);
        QFETCH(double, cadence);
        QFETCH(double, sharpness);
        const auto s = TensionCurve{}.sample(charge);
        VERIFY_NEAR(s.intensity, intensity, 0.00005);
        VERIFY_NEAR(s.cadence, cadence, 0.0005);
        VERIFY_NEAR(s.sharpness, sharpness, 0.00005);
    }

    // From the start values exactly to the end values, strictly rising, all three parameters
    // along the same shape; a start above its end falls, equal ends give a constant.
    void endPointsAndMonotonicity() {
        const TensionCurve curve{2.3, 0.21, 0.77, 3.5, 41, 0.33, 0.66};
        const auto start = curve.sample(0);
        QCOMPARE(start.intensity, 0.21);
        QCOMPARE(start.cadence, 3.5);
        QCOMPARE(start.sharpness, 0.33);
        double previous = 0;
        for (int i = 1; i <= 100; ++i) {
            const auto shape = shapes(curve.sample(i / 100.0), curve);
            QVERIFY(shape[0] > previous);
            VERIFY_NEAR(shape[1], shape[0], 1e-12);
            VERIFY_NEAR(shape[2], shape[0], 1e-12);
            previous = shape[0];
        }
        VERIFY_NEAR(previous, 1, 1e-12);
        const TensionCurve falling{1.7, 0.9, 0.2, 55, 55, 0.5, 0.5};
        VERIFY_NEAR(falling.sample(1).intensity, 0.2, 1e-12);
        QVERIFY(falling.sample(0.4).intensity < falling.sample(0.3).intensity);
        QCOMPARE(falling.sample(0.37).cadence, 55.0);
    }

    void exponent_data() {
        QTest::addColumn<double>("exponent");
        QTest::addColumn<double>("effective");
        QTest::newRow("2.5") << 2.5 << 2.5;
        QTest::newRow("0.1 -> 0.25") << 0.1 << 0.25;
        QTest::newRow("9 -> 4") << 9.0 << 4.0;
        QTest::newRow("NaN -> 1") << kNaN << 1.0;
        QTest::newRow("+inf -> 1, not 4") << kInf << 1.0;
        QTest::newRow("-inf -> 1, not 0.25") << -kInf << 1.0;
    }
    void exponent() {
        QFETCH(double, exponent);
        QFETCH(double, effective);
        TensionCurve curve;
        curve.exponent = exponent;
        for (double c : {0.1, 0.5, 0.9}) {
            for (double shape : shapes(curve.sample(c), TensionCurve{})) {
                VERIFY_NEAR(shape, std::pow(c, effective), 1e-12);
            }
        }
        QCOMPARE(curve.exponent, exponent); // stored as given, limited only when sampling
    }

    void clampsAndFallbacks_data() {
        // Six end points given, six expected after clamping: intensity, cadence, sharpness (low, high).
        QTest::addColumn<QList<double>>("given");
        QTest::addColumn<QList<double>>("effective");
        QTest::newRow("all beyond") << QList<double>{-0.5, 1.5, 0, 90, -0.1, 1.5}
                                    << QList<double>{0, 1, 1, 60, 0, 1};
        QTest::newRow("start above the top, end below the bottom")
            << QList<double>{1.2, -0.2, 75, 0.5, 2, -1} << QList<double>{1, 0, 60, 1, 1, 0};
        // A non-finite field takes its fallback (the full range), not the bound it lies beyond.
        QTest::newRow("NaN") << QList<double>{kNaN, kNaN, kNaN, kNaN, kNaN, kNaN}
                             << QList<double>{0, 1, 1, 60, 0, 1};
        QTest::newRow("+inf starts") << QList<double>{kInf, 0.7, kInf, 50, kInf, 0.6}
                                     << QList<double>{0, 0.7, 1, 50, 0, 0.6};
        QTest::newRow("-inf ends") << QList<double>{0.2, -kInf, 5, -kInf, 0.3, -kInf}
                                   << QList<double>{0.2, 1, 5, 60, 0.3, 1};
    }
    void clampsAndFallbacks() {
        QFETCH(QList<double>, given);
        QFETCH(QList<double>, effective);
        const TensionCurve curve{1, given[0], given[1], given[2], given[3], given[4], given[5]};
        for (double c : {0.0, 0.25, 1.0}) {
            const auto s = curve.sample(c);
            VERIFY_NEAR(s.intensity, effective[0] + (effective[1] - effective[0]) * c, 1e-12);
            VERIFY_NEAR(s.cadence, effective[2] + (effective[3] - effective[2]) * c, 1e-10);
            VERIFY_NEAR(s.sharpness, effective[4] + (effective[5] - effective[4]) * c, 1e-12);
        }
    }

    void everyInputSamplesInsideTheRanges() {
        const double specials[] = {kNaN, kInf, -kInf, -1e300,    -2, -0.0, 0,
                                   0.02, 0.5,  1,     1.0000001, 7,  61,   1e300};
        std::mt19937 rng(20240611);
        std::uniform_real_distribution<double> any(-100, 100);
        auto draw = [&] { return rng() % 3 == 0 ? any(rng) : specials[rng() % std::size(specials)]; };
        for (int i = 0; i < 20000; ++i) {
            const TensionCurve curve{draw(), draw(), draw(), draw(), draw(), draw(), draw()};
            const auto s = curve.sample(draw());
            QVERIFY(s.intensity >= 0 && s.intensity <= 1);
            QVERIFY(s.cadence >= 1 && s.cadence <= 60);
            QVERIFY(s.sharpness >= 0 && s.sharpness <= 1);
        }
    }

    // A curve edit notifies the window only when the curve differs: a field left out of the
    // comparison would hide an edit. A NaN field never compares equal.
    void equalityComparesEveryField() {
        const TensionCurve a;
        QVERIFY(a == TensionCurve{});
        for (auto field : {&TensionCurve::exponent, &TensionCurve::lowIntensity, &TensionCurve::highIntensity,
                           &TensionCurve::lowCadence, &TensionCurve::highCadence, &TensionCurve::lowSharpness,
                           &TensionCurve::highSharpness}) {
            TensionCurve changed = a;
            changed.*field += 0.001;
            QVERIFY(!(changed == a));
            changed.*field = kNaN;
            const TensionCurve copy = changed;
            QVERIFY(!(changed == copy));
        }
    }
};

QTEST_GUILESS_MAIN(TensionCurveTest)
#include "test_tension_curve.moc"
