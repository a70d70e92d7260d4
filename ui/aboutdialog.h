#pragma once

#include <QDialog>

class QLabel;

// Product line, version, build time and purpose. Created for each showing, modal. GUI thread only.
class AboutDialog : public QDialog
{
    Q_OBJECT
public:
    explicit AboutDialog(QWidget *parent = nullptr);

    static QString version();

protected:
    void changeEvent(QEvent *event) override;

private:
    void retranslate();

    QLabel *m_label;
};
