#include "COptionsDlg.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>

namespace quorvel::window {

COptionsDlg::COptionsDlg(bool checked, QWidget* parent)
    : QDialog(parent), box_(new QCheckBox(QStringLiteral("将所有用户当作好友发给用户"), this))
{
    setWindowTitle(QStringLiteral("选项"));
    box_->setChecked(checked);
    auto* save = new QPushButton(QStringLiteral("保存&S"), this);
    auto* cancel = new QPushButton(QStringLiteral("取消&C"), this);
    save->setDefault(true);
    connect(save, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(save);
    buttons->addWidget(cancel);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(box_);
    layout->addLayout(buttons);
}

bool COptionsDlg::Checked() const
{
    return box_->isChecked();
}

} // namespace quorvel::window
