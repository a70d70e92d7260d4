#include "ui/mainwindow.h"

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent)
{
    resize(720, 540);
}
MainWindow::~MainWindow() = default;
void MainWindow::setEngine(SNMP *) { }
