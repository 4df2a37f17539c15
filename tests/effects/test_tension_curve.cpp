// The tension curve: worked values of the initial curve; for any curve, every parameter runs from its
// start to its end value along charge^exponent, with the exponent and the end values limited to their
// ranges (a non-finite one replaced by its fallback), and every sample stays in range.

#include "support/ControllerFixture.h"

#include <limits>
#include <random>

using vibrelle::TensionCurve;
using vibrelle::testing::rows;

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

struct Limited {
    TensionCurve curve;
    double exponent;     // the one sampling uses
    QList<double> ends; // intensity, cadence and sharpness, start and end, as sampling uses them
};

} // namespace

Q_DECLARE_METATYPE(Limited)

class TensionCurveTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initialCurveValues_data() {
        QTest::addColumn<double>("charge");
        QTest::addColumn<QList<double>>("expected"); // intensity, cadence, sharpness
        QTest::newRow("0") << 0.0 << QList<double>{0.08, 8.0, 0.1};
        QTest::newRow("0.25") << 0.25 << QList<double>{0.1482, 12.452, 0.1758};
        QTest::newRow("0.5") << 0.5 << QList<double>{0.3016, 22.466, 0.3462};
        QTest::newRow("0.75") << 0.75 << QList<double>{0.5215, 36.821, 0.5906};
        QTest::newRow("1") << 1.0 << QList<double>{0.8, 55.0, 0.9};
        // Charges outside [0, 1], and NaN, behave as the nearest end (NaN and +inf as 0).
        QTest::newRow("-0.3") << -0.3 << QList<double>{0.08, 8.0, 0.1};
        QTest::newRow("NaN") << kNaN << QList<double>{0.08, 8.0, 0.1};
        QTest::newRow("+inf") << kInf << QList<double>{0.08, 8.0, 0.1};
        QTest::newRow("1.7") << 1.7 << QList<double>{0.8, 55.0, 0.9};
    }
    void initialCurveValues() {
        QFETCH(double, charge);
        QFETCH(QList<double>, expected);
        const auto s = TensionCurve{}.sample(charge);
        VERIFY_NEAR(s.intensity, expected[0], 0.00005);
        VERIFY_NEAR(s.cadence, expected[1], 0.0005);
        VERIFY_NEAR(s.sharpness, expected[2], 0.00005);
    }

    void shapeAndLimits_data() {
        const QList<double> full{0, 1, 1, 60, 0, 1}, initial{0.08, 0.8, 8, 55, 0.1, 0.9};
        rows<Limited>({
            {"rising", {{2.3, 0.21, 0.77, 3.5, 41, 0.33, 0.66}, 2.3, {0.21, 0.77, 3.5, 41, 0.33, 0.66}}},
            {"falling, constant", {{1.7, 0.9, 0.2, 55, 55, 0.5, 0.5}, 1.7, {0.9, 0.2, 55, 55, 0.5, 0.5}}},
            {"exponent 0.1 -> 0.25", {{0.1}, 0.25, initial}},
            {"exponent 9 -> 4", {{9}, 4, initial}},
            {"exponent NaN -> 1", {{kNaN}, 1, initial}},
            {"exponent +inf -> 1, not 4", {{kInf}, 1, initial}},
            {"exponent -inf -> 1, not 0.25", {{-kInf}, 1, initial}},
            {"all beyond", {{1, -0.5, 1.5, 0, 90, -0.1, 1.5}, 1, full}},
            {"start above the top, end below the bottom",
             {{1, 1.2, -0.2, 75, 0.5, 2, -1}, 1, {1, 0, 60, 1, 1, 0}}},
            // A non-finite field takes its fallback (the full range), not the bound it lies beyond.
            {"NaN", {{1, kNaN, kNaN, kNaN, kNaN, kNaN, kNaN}, 1, full}},
            {"+inf starts", {{1, kInf, 0.7, kInf, 50, kInf, 0.6}, 1, {0, 0.7, 1, 50, 0, 0.6}}},
            {"-inf ends", {{1, 0.2, -kInf, 5, -kInf, 0.3, -kInf}, 1, {0.2, 1, 5, 60, 0.3, 1}}},
        });
    }
    void shapeAndLimits() {
        QFETCH(Limited, row);
        const QList<double> &e = row.ends;
        for (const double c : {0.0, 0.1, 0.25, 0.5, 0.9, 1.0}) {
            const double shape = std::pow(c, row.exponent);
            const auto s = row.curve.sample(c);
            VERIFY_NEAR(s.intensity, e[0] + (e[1] - e[0]) * shape, 1e-12);
            VERIFY_NEAR(s.cadence, e[2] + (e[3] - e[2]) * shape, 1e-10);
            VERIFY_NEAR(s.sharpness, e[4] + (e[5] - e[4]) * shape, 1e-12);
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
