#include "ui/userprompt.h"

#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>

namespace UserPrompt {
namespace {
Hook &hook()
{
    static Hook h;
    return h;
}

int box(Kind kind, QWidget *parent, const QString &title, const QString &text, const QString &b0, const QString &b1)
{
    if (hook()) {
        QStringList buttons {b0};
        if (!b1.isNull())
            buttons << b1;
        return hook()(Request {kind, parent, title, text, buttons}).button;
    }
    QMessageBox::Icon icon = kind == Kind::Warning ? QMessageBox::Warning
                             : kind == Kind::Critical ? QMessageBox::Critical
                                                      : QMessageBox::Information;
    QMessageBox box(icon, title, text, QMessageBox::NoButton, parent);
    QPushButton *first = box.addButton(b0, QMessageBox::AcceptRole);
    QPushButton *second = b1.isEmpty() ? nullptr : box.addButton(b1, QMessageBox::RejectRole);
    box.setDefaultButton(first);
    box.exec();
    if (box.clickedButton() == first)
        return 0;
    return box.clickedButton() && box.clickedButton() == second ? 1 : -1;
}
} // namespace

int warning(QWidget *parent, const QString &title, const QString &text, const QString &button0, const QString &button1)
{
    return box(Kind::Warning, parent, title, text, button0, button1);
}

int information(QWidget *parent, const QString &title, const QString &text, const QString &button0,
                const QString &button1)
{
    return box(Kind::Information, parent, title, text, button0, button1);
}

int critical(QWidget *parent, const QString &title, const QString &text, const QString &button0)
{
    return box(Kind::Critical, parent, title, text, button0, QString());
}

QString openFileName(QWidget *parent, const QString &caption, const QString &dir, const QString &filter)
{
    if (hook())
        return hook()(Request {Kind::OpenFile, parent, caption, dir, QStringList {filter}}).path;
    return QFileDialog::getOpenFileName(parent, caption, dir, filter);
}

QString saveFileName(
    QWidget *parent, const QString &caption, const QString &dir, const QStringList &filters, QString *selectedFilter)
{
    if (hook()) {
        const Answer answer = hook()(Request {Kind::SaveFile, parent, caption, dir, filters});
        if (selectedFilter)
            *selectedFilter = answer.filter;
        return answer.path;
    }
    QFileDialog dialog(parent, caption, dir);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setNameFilters(filters);
    // Where the dialog supports it, the filter's extension is added before it asks about replacing a file.
    const auto suffixOf = [](const QString &filter) {
        return QRegularExpression(QStringLiteral("\\*\\.(\\w+)")).match(filter).captured(1);
    };
    dialog.setDefaultSuffix(suffixOf(filters.value(0)));
    QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog,
        [&dialog, suffixOf](const QString &filter) { dialog.setDefaultSuffix(suffixOf(filter)); });
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return QString();
    if (selectedFilter)
        *selectedFilter = dialog.selectedNameFilter();
    return dialog.selectedFiles().constFirst();
}

void setHook(Hook h) { hook() = std::move(h); }
bool hasHook() { return static_cast<bool>(hook()); }

} // namespace UserPrompt
