#include "cellarray.h"

#include <QTest>

using namespace ferro;

class TestCellArray : public QObject {
    Q_OBJECT

    static std::vector<QRectF> row(int n)
    {
        std::vector<QRectF> squares;
        for (int k = 0; k < n; ++k)
            squares.emplace_back(120.0 * k, 0, 150, 150);
        return squares;
    }

    static bool allBordersFollow(const CellArray &cells)
    {
        for (int k = 0; k < cells.count(); ++k)
            if (cells.BorderColor(k) != cells.BackColor(k))
                return false;
        return true;
    }

private slots:
    void bordersFollowFillAfterAnyChanges_data()
    {
        QTest::addColumn<int>("changes");
        QTest::newRow("none") << 0;
        QTest::newRow("one") << 1;
        QTest::newRow("more-than-cells") << 500;
    }
    void bordersFollowFillAfterAnyChanges()
    {
        QFETCH(int, changes);
        QWidget parent;
        CellArray cells(&parent, row(40), 0xC0C0C0, 0x808080, true);
        cells.bordersFollowFill(); // cells created with a differing border
        QVERIFY(allBordersFollow(cells));
        for (int n = 0; n < changes; ++n) {
            cells.setBackColor(n % 40, n % 2 ? 0xFFFFFF : 0x000000);
            cells.setBorderColor((n * 7) % 40, 0x123456);
        }
        cells.bordersFollowFill();
        QVERIFY(allBordersFollow(cells));
    }

    void laterCellsLieOverEarlierOnes()
    {
        QWidget parent;
        CellArray cells(&parent, row(2), 0xFFFFFF, 0xFFFFFF, true);
        cells.setBackColor(0, 0x000000);
        const QImage img = cells.grab().toImage();
        // The 30-twip overlap (2 pixels) shows the second, white cell.
        const int overlapX = cells.cellRect(1).left();
        QCOMPARE(QColor(img.pixel(overlapX, 5)), QColor(Qt::white));
        QCOMPARE(QColor(img.pixel(overlapX - 1, 5)), QColor(Qt::black));
        cells.setCellVisible(1, false);
        QCOMPARE(QColor(cells.grab().toImage().pixel(overlapX, 5)), QColor(Qt::black));
    }

    void insideBorderShowsWhenItDiffers()
    {
        QWidget parent;
        CellArray cells(&parent, row(1), 0xC0C0C0, 0x808080, true);
        const QImage img = cells.grab().toImage();
        QCOMPARE(QColor(img.pixel(0, 0)), QColor(0x80, 0x80, 0x80));
        QCOMPARE(QColor(img.pixel(4, 4)), QColor(0xC0, 0xC0, 0xC0));
    }
};

QTEST_MAIN(TestCellArray)
#include "tst_cellarray.moc"
