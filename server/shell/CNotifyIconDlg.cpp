#include "CNotifyIconDlg.h"

#include "CConsoleView.h"

void CNotifyIconDlg::OnTrayShowHide()
{
    view_.ShowWindow(visible_ == 0);
    visible_ = visible_ == 0 ? 1 : 0;
}

void CNotifyIconDlg::OnTrayNotify(TrayEvent event)
{
    if (event == TrayEvent::LeftButtonDown)
        view_.ShowWindow(true);
}

void CNotifyIconDlg::OnExitCommand(int /*flag*/)
{
}
