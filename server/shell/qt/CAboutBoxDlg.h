#pragma once

#include <QDialog>

namespace quorvel::window {

// The about box "关于 Quorvel": the program icon, "Quorvel 1.0 版" and
// "确定". GUI thread.
class CAboutBoxDlg : public QDialog {
public:
    CAboutBoxDlg(const QIcon& icon, QWidget* parent);
};

} // namespace quorvel::window
