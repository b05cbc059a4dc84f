#pragma once

#include <QDialog>

class QCheckBox;

namespace quorvel::window {

// The options dialog "选项": the check box "将所有用户当作好友发给用户" with
// "保存&S" (accepts, the default button) and "取消&C". GUI thread.
class COptionsDlg : public QDialog {
public:
    COptionsDlg(bool checked, QWidget* parent);

    bool Checked() const;
    QCheckBox* CheckBox() const { return box_; }

private:
    QCheckBox* box_;
};

} // namespace quorvel::window
