#pragma once
// A control array of filled squares (shapes) drawn by one widget from plain
// arrays: fill, border, border style and visibility per cell. A cell with a
// higher index lies over one with a lower index. Changing a cell only marks
// its square for repainting; Qt paints once per frame.

#include <QRect>
#include <QString>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <vector>

namespace ferro {

class CellArray : public QWidget {
    Q_OBJECT
public:
    // Border styles: 0 transparent (no border), 6 inside solid.
    static constexpr int InsideSolid = 6;

    // squares: each cell's square in twips of the parent's client area.
    CellArray(QWidget *parent, std::vector<QRectF> squaresInTwips, std::uint32_t fill, std::uint32_t border,
              bool visible);

    int count() const { return static_cast<int>(m_cells.size()); }

    std::uint32_t BackColor(int k) const { return m_cells[k].fill; }
    std::uint32_t BorderColor(int k) const { return m_cells[k].border; }

    void setBackColor(int k, std::uint32_t colour);
    void setBorderColor(int k, std::uint32_t colour);
    void setBorderStyle(int k, int style);
    void setCellVisible(int k, bool visible);
    // Every cell's border colour set to its fill colour.
    void bordersFollowFill();

    // For a screen reader, which sees the array as one picture named by its
    // accessible name: what the picture shows, in words. Asked only when a
    // reader asks; announceAccessibleChange tells readers it may have changed.
    void setDescriber(std::function<QString()> describe) { m_describe = std::move(describe); }
    QString description() const { return m_describe ? m_describe() : accessibleDescription(); }
    // Or as blocks of `cells` consecutive cells, each a picture named
    // "<name> N" (N from 1) and described by describe(block), shown while the
    // block's first cell is visible.
    void setBlocks(int cells, const QString &name, std::function<QString(int)> describe);
    int blockCount() const { return m_blockCells > 0 ? count() / m_blockCells : 0; }
    QString blockName(int b) const { return QStringLiteral("%1 %2").arg(m_blockName).arg(b + 1); }
    QString blockDescription(int b) const { return m_describeBlock ? m_describeBlock(b) : QString(); }
    bool blockShown(int b) const { return m_cells[b * m_blockCells].visible; }
    QRect blockRect(int b) const;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    struct Cell {
        QRect rect;
        std::uint32_t fill;
        std::uint32_t border;
        int borderStyle;
        bool visible;
    };
    void touch(int k);
    void noteMismatch(int k);

    std::vector<Cell> m_cells;
    // Cells whose border may differ from their fill; when the list would
    // grow past the cell count, every cell is checked instead.
    std::vector<int> m_mismatched;
    bool m_checkAll = false;

    std::function<QString()> m_describe;
    int m_blockCells = 0;
    QString m_blockName;
    std::function<QString(int)> m_describeBlock;
};

} // namespace ferro
