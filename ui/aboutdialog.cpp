#include "ui/aboutdialog.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>

AboutDialog::AboutDialog(QWidget *parent)
    : QDialog(parent, Qt::WindowCloseButtonHint)
    , m_label(new QLabel(this))
{
    setObjectName(QStringLiteral("AboutDialog"));
    setAttribute(Qt::WA_QuitOnClose, false);
    setFixedSize(400, 200);
    m_label->setObjectName(QStringLiteral("aboutLabel"));
    m_label->setWordWrap(true);
    auto *layout = new QHBoxLayout(this);
    layout->addWidget(m_label);
    retranslate();
}

QString AboutDialog::version() { return QStringLiteral("1.0.5"); }

void AboutDialog::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::LanguageChange)
        retranslate();
    QDialog::changeEvent(event);
}

void AboutDialog::retranslate()
{
    setWindowTitle(tr("About"));
    m_label->setText(QStringLiteral("<html><span style=\"font-weight:bold; font-size:16px\">SNMP Vigilex v") + version()
                     + QStringLiteral("</span><br><br>") + tr("Built on") + QLatin1Char(' ')
                     + QLatin1String(__DATE__) + QLatin1Char(' ') + QLatin1String(__TIME__)
                     + QStringLiteral("<br><br>") + tr("The program is used for power off protection by SNMP.")
                     + QStringLiteral("</html>"));
}
