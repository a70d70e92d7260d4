#pragma once

#include "snmp/snmpinfo.h"

#include <QDialog>

// Placeholder until the settings dialog lands.
class SettingsDialog : public QDialog
{
    Q_OBJECT
public:
    explicit SettingsDialog(QWidget *parent = nullptr);

signals:
    void hostRemoved(const QString &peer);
    void hostAdded(const SNMPInfo &info);
    void hostModified(const SNMPInfo &infoNew, const SNMPInfo &infoOld);
    void popupStateChanged(bool popup);
};
