#include "stdruntime/textconv.h"
#include "stdruntime/textfields.h"

#include <QtTest>

#include <bit>
#include <cfloat>
#include <cmath>
#include <limits>
#include <random>
#include <string>

using namespace ferro;

namespace {

// Exact equality, telling 0 from -0; QCOMPARE on doubles is fuzzy.
bool same(double a, double b)
{
    return a == b && std::signbit(a) == std::signbit(b);
}

QByteArray show(double v) { return QByteArray::number(v, 'g', 17); }
QByteArray bytes(const std::string &s) { return QByteArray::fromStdString(s); }

} // namespace

class TestTextConv : public QObject {
    Q_OBJECT

private slots:
    void val_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<double>("expected");
        const struct { const char *name; QByteArray text; double expected; } rows[] = {
            { "blanks-inside-digits", " 1 2", 12 }, { "blank-after-sign", "- 5", -5 },
            { "blanks-around-point", "1 . 5", 1.5 }, { "tab-cr-lf", "\t\r\n7\n", 7 },
            { "leading-point", ".5", 0.5 }, { "second-point-ends", "1.2.3", 1.2 },
            { "trailing-point", "5.", 5 }, { "plus-sign", "+3", 3 }, { "minus-point", "-.25", -0.25 },
            { "exponent-E", "1E3", 1000 }, { "exponent-D-negative", "2.5D-2", 0.025 },
            { "exponent-lowercase-e", "1.5e2", 150 }, { "exponent-blank-sign", "1E - 3", 0.001 },
            { "exponent-without-digits", "1E", 1 }, { "exponent-sign-only", "1E+", 1 },
            { "point-after-exponent-ends", "1e2.5", 100 }, { "huge-saturates", "1e999", DBL_MAX },
            { "huge-negative-saturates", "-1e999", -DBL_MAX }, { "tiny-is-zero", "1e-999", 0 },
            { "tiny-negative-is-plus-zero", "-1e-999", 0 }, { "minus-zero", "-0", 0 },
            { "exponent-D-308", "1d308", 1e308 }, { "just-above-max-saturates", "1.8e308", DBL_MAX },
            { "smallest-subnormal", "4.9406564584124654e-324", 4.9406564584124654e-324 },
            { "leading-and-trailing-zeros", "000123.4500", 123.45 },
            { "padded-exponent", "1e00000000000000000000002", 100 },
            { "giant-exponent", "1e99999999999999999999999", DBL_MAX },
            { "giant-negative-exponent", "5e-99999999999999999999999", 0 },
            { "hex", "&H10", 16 }, { "hex-lowercase", "&hff", 255 }, { "octal", "&O17", 15 },
            { "octal-8-ends", "&o18", 1 }, { "hex-blanks", "& H 1 0", 16 },
            { "hex-64-bits", "&HFFFFFFFFFFFFFFFF", 18446744073709551615.0 },
            { "octal-66-bits", "&O7777777777777777777777", 73786976294838206463.0 },
            { "hex-tie-rounds-even", "&H200000000000010000000000", std::ldexp(9007199254740992.0, 40) },
            { "hex-above-tie-rounds-up", "&H200000000000010000000001", std::ldexp(9007199254740994.0, 40) },
            { "ampersand-only", "&", 0 }, { "hex-no-digits", "&H", 0 }, { "hex-bad-digit", "&HG", 0 },
            { "ampersand-digits", "&12", 0 }, { "sign-before-hex", "-&H10", 0 },
            { "suffix-ends", "2.5K", 2.5 }, { "letters", "abc", 0 }, { "empty", "", 0 },
            { "blanks-only", "  \t", 0 }, { "point-only", ".", 0 }, { "sign-only", "-", 0 },
            { "nan-text", "nan", 0 }, { "inf-text", "inf", 0 }, { "double-minus", "--5", 0 },
            { "plus-minus", "+-5", 0 }, { "decimal-comma-ends", "1,5", 1 },
            { "no-break-space-ends", "1\xC2\xA0" "2", 1 }, { "arabic-digit", "\xD9\xA3", 0 },
            { "nul-ends", QByteArray("4\0" "2", 3), 4 },
        };
        for (const auto &r : rows)
            QTest::newRow(r.name) << r.text << r.expected;
    }

    void val()
    {
        QFETCH(QByteArray, text);
        QFETCH(double, expected);
        const double actual = Val(std::string_view(text.constData(), std::size_t(text.size())));
        QVERIFY2(same(actual, expected), show(actual) + " instead of " + show(expected));
    }

    void valLongTexts()
    {
        const std::string zeros(100000, '0');
        QVERIFY(same(Val(std::string(100000, '1')), DBL_MAX));
        // 2^53 + 1 lies halfway between two doubles: only a digit 100,000
        // places further on decides which way it rounds.
        QVERIFY(same(Val("9007199254740993." + zeros), 9007199254740992.0));
        QVERIFY(same(Val("9007199254740993." + zeros + "1"), 9007199254740994.0));
        QVERIFY(same(Val("&H" + std::string(100000, 'F')), DBL_MAX));
    }

    void str_data()
    {
        QTest::addColumn<double>("value");
        QTest::addColumn<QByteArray>("expected");
        const struct { const char *name; double value; const char *expected; } rows[] = {
            { "one", 1, " 1" }, { "minus-one", -1, "-1" }, { "zero", 0, " 0" }, { "minus-zero", -0.0, " 0" },
            { "binary-artefact-rounded", 0.1 + 0.2, " .3" }, { "third", 1.0 / 3, " .333333333333333" },
            { "minus-two-thirds", -2.0 / 3, "-.666666666666667" }, { "no-leading-zero", 0.125, " .125" },
            { "negative-no-leading-zero", -0.005, "-.005" }, { "mixed", 123.456, " 123.456" },
            { "whole-with-zeros", 800, " 800" }, { "smallest-fixed", 0.0001, " .0001" },
            { "rounds-up-to-fixed", 0.00009999999999999999, " .0001" }, { "below-fixed", 1e-5, " 1E-05" },
            { "below-fixed-mantissa", -1.25e-7, "-1.25E-07" },
            { "largest-fixed", 123456789012345.0, " 123456789012345" },
            { "sixteen-digits-rounded", 1234567890123456.0, " 1.23456789012346E+15" },
            { "1E15", 1e15, " 1E+15" }, { "rounds-up-to-1E15", 999999999999999.9, " 1E+15" },
            { "exponent-form", 1.5e16, " 1.5E+16" }, { "three-digit-exponent", 1e-300, " 1E-300" },
            { "max", DBL_MAX, " 1.79769313486232E+308" }, { "minus-max", -DBL_MAX, "-1.79769313486232E+308" },
            { "subnormal", 5e-324, " 4.94065645841247E-324" }, { "nan", std::nan(""), " 0" },
            { "infinity", HUGE_VAL, " 1.79769313486232E+308" },
            { "minus-infinity", -HUGE_VAL, "-1.79769313486232E+308" },
        };
        for (const auto &r : rows)
            QTest::newRow(r.name) << r.value << QByteArray(r.expected);
    }

    void str()
    {
        QFETCH(double, value);
        QFETCH(QByteArray, expected);
        QCOMPARE(bytes(Str(value)), expected);
    }

    void format_data()
    {
        QTest::addColumn<double>("value");
        QTest::addColumn<QByteArray>("pattern");
        QTest::addColumn<QByteArray>("expected");
        const struct { const char *name; double value; const char *pattern, *expected; } rows[] = {
            { "half-rounds-up", 0.125, "0.00", "0.13" }, { "decimal-half-not-binary", 2.675, "0.00", "2.68" },
            { "half-away-from-zero", -0.125, "0.00", "-0.13" }, { "below-half", 0.0025, "0.00", "0.00" },
            { "four-decimals-half", 0.00125, "0.0000", "0.0013" }, { "pads-decimals", 1, "0.0000", "1.0000" },
            { "leading-literal", 0.8, " 0.0", " 0.8" }, { "binary-artefact", 1 - 0.2 * 3, " 0.0", " 0.4" },
            { "zero", 0, " 0.0", " 0.0" }, { "negative-rounds-to-zero", -0.00001, "0.00", "0.00" },
            { "minus-zero", -0.0, "0.0", "0.0" }, { "ordinary", 123.456, "0.00", "123.46" },
            { "above-fifteen-digits", 1e20, "0.00", "100000000000000000000.00" },
            { "integer-zero-kept", 0.5, "0.00", "0.50" }, { "carry-into-new-digit", 9.995, "0.00", "10.00" },
            { "carry-negative", -99.96, "0.0", "-100.0" }, { "no-decimals", 2.5, "0", "3" },
            { "no-decimals-negative", -0.5, "0", "-1" }, { "minimum-integer-digits", 7.25, "000.0", "007.3" },
            { "no-integer-zeros", 0.5, ".00", ".50" }, { "point-without-decimals", 1.4, "0.", "1." },
            { "literals-around", 3.14159, "T = 0.00 K", "T = 3.14 K" },
            { "minus-before-literals", -0.4, " 0.0", "- 0.4" },
            { "second-group-is-literal", 1.5, "0.0 0", "1.5 0" }, { "no-placeholder", 5, "abc", "abc" },
            { "rounds-on-fifteen-digits", 0.1 + 0.2, "0.0000000000000000", "0.3000000000000000" },
            { "tiny", 1e-300, "0.00", "0.00" }, { "tiny-many-decimals", 1.5e-10, "0.0000000000", "0.0000000002" },
            { "nan-is-zero", std::nan(""), "0.0", "0.0" },
        };
        for (const auto &r : rows)
            QTest::newRow(r.name) << r.value << QByteArray(r.pattern) << QByteArray(r.expected);
    }

    void format()
    {
        QFETCH(double, value);
        QFETCH(QByteArray, pattern);
        QFETCH(QByteArray, expected);
        QCOMPARE(bytes(Format(value, pattern.toStdString())), expected);
    }

    void roundToMatchesValOfFormat()
    {
        QVERIFY(same(RoundTo(2.675, 2), 2.68));
        QVERIFY(same(RoundTo(-0.125, 2), -0.13));
        QVERIFY(same(RoundTo(-0.00001, 2), 0.0));
        QVERIFY(same(RoundTo(-3.0, 4), -3.0));
        QVERIFY(same(RoundTo(-0.0, 1), 0.0));
        QVERIFY(same(RoundTo(DBL_MAX, 2), DBL_MAX));
        QVERIFY(same(RoundTo(std::nan(""), 2), 0.0));

        // Values shaped like the read-outs (ratios of small whole numbers,
        // sums with binary artefacts, whole numbers) and doubles of any size.
        std::mt19937_64 gen(20240611);
        std::uniform_int_distribution<int> small(-4000, 4000);
        std::uniform_int_distribution<std::uint64_t> anyBits;
        for (int i = 0; i < 20000; ++i) {
            double v = 0;
            switch (i % 4) {
            case 0: v = small(gen) / 400.0; break;
            case 1: v = small(gen) * 0.001 + small(gen) * 0.1; break;
            case 2: v = double(small(gen)) * small(gen) * small(gen); break;
            default: v = std::bit_cast<double>(anyBits(gen)); break;
            }
            if (!std::isfinite(v))
                continue;
            const int decimals = i % 7;
            const double expected = Val(Format(v, "0." + std::string(decimals, '0')));
            QVERIFY2(same(RoundTo(v, decimals), expected), show(v) + " to " + QByteArray::number(decimals));
        }
    }

    // The one reader of whole numbers in options, shares and tables.
    void wholeNumbers_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("read");
        QTest::addColumn<quint64>("value");
        QTest::newRow("digits") << "1024" << true << quint64(1024);
        QTest::newRow("leading-zeros") << "007" << true << quint64(7);
        QTest::newRow("largest") << "18446744073709551615" << true << quint64(18446744073709551615ULL);
        QTest::newRow("one-above-largest") << "18446744073709551616" << false << quint64(0);
        QTest::newRow("empty") << "" << false << quint64(0);
        QTest::newRow("minus") << "-3" << false << quint64(0);
        QTest::newRow("plus") << "+3" << false << quint64(0);
        QTest::newRow("exponent") << "1e3" << false << quint64(0);
        QTest::newRow("point") << "8.0" << false << quint64(0);
        QTest::newRow("blank-before") << " 8" << false << quint64(0);
        QTest::newRow("blank-after") << "8 " << false << quint64(0);
        QTest::newRow("hexadecimal") << "0x10" << false << quint64(0);
    }
    void wholeNumbers()
    {
        QFETCH(QString, text);
        QFETCH(bool, read);
        QFETCH(quint64, value);
        const std::optional<std::uint64_t> n = wholeNumber(text.toStdString());
        QCOMPARE(n.has_value(), read);
        if (read)
            QCOMPARE(*n, value);
    }
};

QTEST_GUILESS_MAIN(TestTextConv)
#include "tst_textconv.moc"
