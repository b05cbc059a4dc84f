#pragma once

namespace quorvel::shell {

class CConsoleView;

// The notification-area part of the console: the visible flag, the
// show/hide command, the icon's mouse events and the exit command. The icon
// and its menu (always with the show/hide and exit items) belong to the
// front end.
//
// Thread: the service loop thread, like the console built on it.
class CNotifyIconDlg {
public:
    // Mouse events of the notification-area icon that the console reacts to.
    enum class TrayEvent { LeftButtonDown, RightButtonUp, Other };

    explicit CNotifyIconDlg(CConsoleView& view) : view_(view) {}
    virtual ~CNotifyIconDlg() = default;
    CNotifyIconDlg(const CNotifyIconDlg&) = delete;
    CNotifyIconDlg& operator=(const CNotifyIconDlg&) = delete;

    // "显示/隐藏窗口(&H)": shows the window when the visible flag is clear,
    // hides it when set, then inverts the flag.
    void OnTrayShowHide();
    // A left click shows the window and leaves the visible flag as it is;
    // the right click's menu is the front end's; other events do nothing.
    void OnTrayNotify(TrayEvent event);
    // The exit command ("退出程序(&X)" passes 1). The base does nothing (a
    // modeless dialog's cancel changes nothing here); the console's version
    // tears the console down and ends the program.
    virtual void OnExitCommand(int flag);

    bool Visible() const { return visible_; }

protected:
    CConsoleView& View() const { return view_; }

private:
    CConsoleView& view_;
    bool visible_ = true;
};

} // namespace quorvel::shell
