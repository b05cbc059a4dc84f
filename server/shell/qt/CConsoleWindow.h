#pragma once

#include "quorvel_shell/CLogPageDlg.h"

#include <QIcon>
#include <QMainWindow>
#include <QPointer>

#include <functional>
#include <string>

class QAction;
class QMessageBox;
class QPlainTextEdit;
class QPushButton;
class QSystemTrayIcon;
class QTabWidget;
namespace quorvel::shell {
class CServerConsoleDlg;
}

namespace quorvel::window {

// The console window "Quorvel": a tab "日志" over the log view, the buttons
// "启动", "停止" and "选项" placed by CServerConsoleDlg::LayoutControls, the
// notification-area icon with its menu, a "服务" menu whose "状态" shows the
// status block, and a "帮助" menu holding the about box. It only shows state
// and forwards commands: every command goes to the console logic on the
// service loop through the command sink.
//
// Closing the window hides it while a notification-area icon exists; the
// icon's "退出程序(&X)" ends the program. Without a notification area (no
// tray host), closing the window is the exit command, so the program can
// always be ended from what is on screen.
//
// Thread: the GUI thread for every method.
class CConsoleWindow : public QMainWindow {
public:
    using Command = std::function<void(shell::CServerConsoleDlg&)>;
    // Runs a command on the service loop, never waiting for it.
    using CommandSink = std::function<void(Command)>;

    explicit CConsoleWindow(CommandSink sink);
    ~CConsoleWindow() override;

    // The front end's side of CConsoleView, on the GUI thread.
    void EnableButtons(bool start, bool stop);
    void SetCaption(const std::string& gbkCaption);
    void ShowConsole(bool show);
    // Opens the options dialog modally and reports how it ended.
    void OpenOptions(bool checked);
    // Shows one GBK log text by the log page's rule.
    void AppendLogText(const std::string& gbkText);
    // The about box, modal.
    void OpenAbout();
    // Shows the status block in a box of its own that does not hold up the
    // window; a new block replaces the text of a box still open.
    void ShowStatus(const std::string& block);

    bool HasTrayIcon() const { return tray_ != nullptr; }
    QPushButton* StartButton() const { return start_; }
    QPushButton* StopButton() const { return stop_; }
    QPushButton* OptionsButton() const { return options_; }
    QPlainTextEdit* LogEdit() const { return edit_; }
    QAction* StatusAction() const { return statusAction_; }
    // The open status box, or null.
    QMessageBox* StatusBox() const;

    // The program icon, drawn rather than loaded so the program needs no
    // resource files.
    static QIcon ProgramIcon();

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void BuildControls();
    void BuildMenu();
    void BuildTrayIcon();
    void LayoutControls();
    void Send(Command command) { sink_(std::move(command)); }

    CommandSink sink_;
    shell::CLogPageDlg logPage_;
    QIcon icon_;
    QWidget* client_ = nullptr;
    QTabWidget* tab_ = nullptr;
    QPlainTextEdit* edit_ = nullptr;
    QPushButton* start_ = nullptr;
    QPushButton* stop_ = nullptr;
    QPushButton* options_ = nullptr;
    QSystemTrayIcon* tray_ = nullptr;
    QAction* statusAction_ = nullptr;
    QPointer<QMessageBox> statusBox_;
};

} // namespace quorvel::window
