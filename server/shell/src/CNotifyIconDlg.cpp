#include "quorvel_shell/CNotifyIconDlg.h"

#include "quorvel_shell/CConsoleView.h"

namespace quorvel::shell {

void CNotifyIconDlg::OnTrayShowHide()
{
    visible_ = !visible_;
    view_.ShowWindow(visible_);
}

void CNotifyIconDlg::OnTrayNotify(TrayEvent event)
{
    if (event == TrayEvent::LeftButtonDown)
        view_.ShowWindow(true);
}

void CNotifyIconDlg::OnExitCommand(int /*flag*/)
{
}

} // namespace quorvel::shell
