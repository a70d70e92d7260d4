#pragma once

#include <QStyledItemDelegate>

// Shows a cell's whole text as its tooltip when the cell is too narrow for it, and no tooltip otherwise.
// GUI thread only.
class ElidedTextTipDelegate : public QStyledItemDelegate
{
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    bool helpEvent(QHelpEvent *event, QAbstractItemView *view, const QStyleOptionViewItem &option,
        const QModelIndex &index) override;

private:
    // Whether the text of the cell at index is cut in the view as it is laid out now.
    bool isElided(const QAbstractItemView *view, const QModelIndex &index) const;
};
