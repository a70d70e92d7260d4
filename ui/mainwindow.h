#pragma once

#include <QMainWindow>

class SNMP;

// Placeholder until the window lands.
class MainWindow : public QMainWindow
{
    Q_OBJECT
public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;
    void setEngine(SNMP *engine);
};
