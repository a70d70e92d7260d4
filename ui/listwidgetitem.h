#pragma once

#include <QByteArray>
#include <QString>
#include <QWidget>

class QHBoxLayout;
class QLabel;
class Led;

// One row of the host list: the address and its lamp, with the last reported UPS state in the tooltip.
// GUI thread only.
class ListWidgetItem : public QWidget
{
    Q_OBJECT
public:
    ListWidgetItem(const QString &host, QWidget *parent = nullptr);

    void setStatus(int status);
    void setData(const QByteArray &data);
    // The card turns the credentials down: a line in the tooltip until it answers.
    void setAuthenticationFailed(bool failed);
    void setHost(const QString &host);
    // A modified host is another card: grey, no data, no trouble.
    void reset();

    QString host() const { return m_host; }
    Led *led() const { return m_led; }

protected:
    void changeEvent(QEvent *event) override;

private:
    void refreshToolTip();
    void setDetailToolTip();

    QHBoxLayout *m_layout;
    QLabel *m_label;
    Led *m_led;
    QString m_host;
    int m_status = 0;
    bool m_trouble = false;
    bool m_authenticationFailed = false;
    bool m_detailTipShown = false;
    // The data bytes in report order, replaced as one copy.
    struct Data
    {
        char batteryStatus = 0;
        char inputStatus = 0;
        char outputStatus = 0;
        unsigned char capacity = 0;
    } m_data;
};
