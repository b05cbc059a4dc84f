#include "CAboutBoxDlg.h"

#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace quorvel::window {

CAboutBoxDlg::CAboutBoxDlg(const QIcon& icon, QWidget* parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("关于 Quorvel"));
    auto* picture = new QLabel(this);
    picture->setPixmap(icon.pixmap(32, 32));
    auto* text = new QLabel(QStringLiteral("Quorvel 1.0 版"), this);
    auto* ok = new QPushButton(QStringLiteral("确定"), this);
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);

    auto* row = new QHBoxLayout;
    row->addWidget(picture);
    row->addWidget(text, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(ok);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(row);
    layout->addLayout(buttons);
}

} // namespace quorvel::window
