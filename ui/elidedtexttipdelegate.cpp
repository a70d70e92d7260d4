#include "ui/elidedtexttipdelegate.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QHelpEvent>
#include <QStyle>
#include <QToolTip>

bool ElidedTextTipDelegate::isElided(const QAbstractItemView *view, const QModelIndex &index) const
{
    QStyleOptionViewItem option;
    option.initFrom(view->viewport());
    option.rect = view->visualRect(index);
    initStyleOption(&option, index);
    const QStyle *style = view->style() ? view->style() : QApplication::style();
    const QRect textRect = style->subElementRect(QStyle::SE_ItemViewItemText, &option, view);
    // The style keeps a margin inside the text rectangle on either side.
    const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, view) + 1;
    return option.fontMetrics.horizontalAdvance(option.text) > textRect.width() - 2 * margin;
}

bool ElidedTextTipDelegate::helpEvent(
    QHelpEvent *event, QAbstractItemView *view, const QStyleOptionViewItem &option, const QModelIndex &index)
{
    if (event->type() != QEvent::ToolTip || !index.isValid())
        return QStyledItemDelegate::helpEvent(event, view, option, index);
    if (isElided(view, index))
        QToolTip::showText(
            event->globalPos(), index.data(Qt::DisplayRole).toString(), view->viewport(), view->visualRect(index));
    else
        QToolTip::hideText();
    return true;
}
