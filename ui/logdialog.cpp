#include "ui/logdialog.h"

LogDialog::LogDialog(QWidget *parent)
    : QDialog(parent)
{
}
