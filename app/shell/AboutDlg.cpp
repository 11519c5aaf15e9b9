#include "app/shell/AboutDlg.h"

#include "app/shell/Resource.h"

#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/shell/FileVersionInfo.h"
#include "app/shell/Resources.h"

namespace {

QGroupBox* TextBox(const QString& title, QWidget* content, QWidget* parent) {
    auto* box = new QGroupBox(title, parent);
    (new QVBoxLayout(box))->addWidget(content);
    return box;
}

QLabel* WrappedLabel(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setWordWrap(true);
    return label;
}

} // namespace

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("100"));
    setWindowTitle(QStringLiteral("About GRV"));

    auto* icon = new QLabel(this);
    icon->setObjectName(QStringLiteral("177"));
    icon->setPixmap(grv::AppIcon().pixmap(48, 48));
    auto* product = new QLabel(QStringLiteral("Gorvane"), this);
    QFont big = product->font();
    big.setPointSize(big.pointSize() + 4);
    big.setBold(true);
    product->setFont(big);
    auto* top = new QHBoxLayout();
    top->addWidget(icon);
    top->addWidget(product, 1);

    m_ctlVersion = new QLabel(QString::fromLatin1(kTemplateVersion), this);
    m_ctlVersion->setObjectName(QString::number(grv::IDC_ABOUT_VERSION));

    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("1"));
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);

    auto* main = new QVBoxLayout(this);
    main->addLayout(top);
    main->addWidget(TextBox(QStringLiteral("Version"), m_ctlVersion, this));
    main->addWidget(TextBox(QStringLiteral("Credits"),
                            WrappedLabel(QStringLiteral("Written by Bravenor for everyone who "
                                                        "keeps a journal of their pain."),
                                         this),
                            this));
    main->addWidget(
        TextBox(QStringLiteral("Contact"), WrappedLabel(QStringLiteral("Bravenor, makers of Gorvane"), this), this));
    main->addWidget(ok, 0, Qt::AlignRight);
    OnInitDialog();
}

void CAboutDlg::OnInitDialog() {
    CFileVersionInfo info;
    if (info.Create()) {
        m_ctlVersion->setText(QStringLiteral("Version: %1").arg(info.GetProductVersion()));
    }
}
