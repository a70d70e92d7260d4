#pragma once

#include <QDialog>

// Placeholder until the event log dialog lands.
class LogDialog : public QDialog
{
    Q_OBJECT
public:
    explicit LogDialog(QWidget *parent = nullptr);
};
