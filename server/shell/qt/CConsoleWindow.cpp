#include "CConsoleWindow.h"

#include "CAboutBoxDlg.h"
#include "COptionsDlg.h"
#include "quorvel_shell/CServerConsoleDlg.h"
#include "quorvel_shell/CTerminalText.h"

#include <QCloseEvent>
#include <QFontDatabase>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSystemTrayIcon>
#include <QTabWidget>

namespace quorvel::window {

using shell::CLogPageDlg;
using shell::CNotifyIconDlg;
using shell::CServerConsoleDlg;
using shell::CTerminalText;

namespace {

constexpr int kInitialWidth = 640;
constexpr int kInitialHeight = 420;

QString FromGbk(const std::string& gbk)
{
    return QString::fromStdString(CTerminalText::ToUtf8(gbk));
}

void Place(QWidget* widget, const CServerConsoleDlg::Rect& rect)
{
    widget->setGeometry(rect.x, rect.y, rect.width, rect.height);
}

} // namespace

CConsoleWindow::CConsoleWindow(CommandSink sink) : sink_(std::move(sink)), icon_(ProgramIcon())
{
    setWindowTitle(QStringLiteral("Quorvel"));
    setWindowIcon(icon_);
    BuildControls();
    BuildMenu();
    BuildTrayIcon();
    resize(kInitialWidth, kInitialHeight);
}

CConsoleWindow::~CConsoleWindow()
{
    if (tray_)
        tray_->hide();
}

void CConsoleWindow::BuildControls()
{
    client_ = new QWidget(this);
    setCentralWidget(client_);
    client_->installEventFilter(this);

    tab_ = new QTabWidget(client_);
    tab_->addTab(new QWidget, QStringLiteral("日志"));
    edit_ = new QPlainTextEdit(client_);
    edit_->setUndoRedoEnabled(false);
    edit_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    edit_->raise();

    start_ = new QPushButton(QStringLiteral("启动"), client_);
    stop_ = new QPushButton(QStringLiteral("停止"), client_);
    options_ = new QPushButton(QStringLiteral("选项"), client_);
    connect(start_, &QPushButton::clicked, this, [this] { Send([](CServerConsoleDlg& c) { c.StartMsgService(); }); });
    connect(stop_, &QPushButton::clicked, this, [this] { Send([](CServerConsoleDlg& c) { c.StopMsgService(); }); });
    connect(options_, &QPushButton::clicked, this, [this] { Send([](CServerConsoleDlg& c) { c.OnOptions(); }); });
    EnableButtons(true, false);
}

void CConsoleWindow::BuildMenu()
{
    QMenu* service = menuBar()->addMenu(QStringLiteral("服务(&S)"));
    statusAction_ = service->addAction(QStringLiteral("状态(&T)"), this,
                                       [this] { Send([](CServerConsoleDlg& c) { c.OnStatus(); }); });
    QMenu* help = menuBar()->addMenu(QStringLiteral("帮助(&H)"));
    help->addAction(QStringLiteral("关于 Quorvel(&A)..."), this, [this] { OpenAbout(); });
}

void CConsoleWindow::BuildTrayIcon()
{
    if (!QSystemTrayIcon::isSystemTrayAvailable())
        return;
    tray_ = new QSystemTrayIcon(icon_, this);
    tray_->setToolTip(windowTitle());
    auto* menu = new QMenu(this);
    menu->addAction(QStringLiteral("选项(&O)"), this, [this] { Send([](CServerConsoleDlg& c) { c.OnOptions(); }); });
    menu->addSeparator();
    menu->addAction(QStringLiteral("显示/隐藏窗口(&H)"), this,
                    [this] { Send([](CServerConsoleDlg& c) { c.OnTrayShowHide(); }); });
    menu->addSeparator();
    menu->addAction(QStringLiteral("退出程序(&X)"), this, [this] { Send([](CServerConsoleDlg& c) { c.OnExitCommand(1); }); });
    tray_->setContextMenu(menu);
    connect(tray_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger)
            Send([](CServerConsoleDlg& c) { c.OnTrayNotify(CNotifyIconDlg::TrayEvent::LeftButtonDown); });
    });
    tray_->show();
}

void CConsoleWindow::LayoutControls()
{
    const CServerConsoleDlg::Layout layout = CServerConsoleDlg::LayoutControls(client_->width(), client_->height());
    Place(tab_, layout.tab);
    Place(edit_, layout.page);
    Place(start_, layout.start);
    Place(stop_, layout.stop);
    Place(options_, layout.options);
}

void CConsoleWindow::EnableButtons(bool start, bool stop)
{
    start_->setEnabled(start);
    stop_->setEnabled(stop);
}

void CConsoleWindow::SetCaption(const std::string& gbkCaption)
{
    setWindowTitle(FromGbk(gbkCaption));
}

void CConsoleWindow::ShowConsole(bool show)
{
    setVisible(show);
    if (show) {
        raise();
        activateWindow();
    }
}

void CConsoleWindow::OpenOptions(bool checked)
{
    COptionsDlg dialog(checked, this);
    const bool saved = dialog.exec() == QDialog::Accepted;
    const bool box = dialog.Checked();
    Send([saved, box](CServerConsoleDlg& c) { c.OnOptionsClosed(saved, box); });
}

void CConsoleWindow::AppendLogText(const std::string& gbkText)
{
    QString text = FromGbk(gbkText);
    text.remove(QLatin1Char('\r'));
    if (text.endsWith(QLatin1Char('\n')))
        text.chop(1);
    if (logPage_.AppendLog(gbkText) == CLogPageDlg::Placement::ReplaceAll)
        edit_->setPlainText(text);
    else
        edit_->appendPlainText(text);
    edit_->verticalScrollBar()->setValue(edit_->verticalScrollBar()->maximum());
}

void CConsoleWindow::OpenAbout()
{
    CAboutBoxDlg(icon_, this).exec();
}

void CConsoleWindow::ShowStatus(const std::string& block)
{
    if (!statusBox_) {
        statusBox_ =
            new QMessageBox(QMessageBox::Information, QStringLiteral("状态"), QString(), QMessageBox::Ok, this);
        statusBox_->setAttribute(Qt::WA_DeleteOnClose);
        statusBox_->setModal(false);
        statusBox_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    }
    statusBox_->setText(FromGbk(block));
    statusBox_->show();
    statusBox_->raise();
}

QMessageBox* CConsoleWindow::StatusBox() const
{
    return statusBox_;
}

void CConsoleWindow::closeEvent(QCloseEvent* event)
{
    event->ignore();
    if (tray_)
        hide();
    else
        Send([](CServerConsoleDlg& c) { c.OnExitCommand(1); });
}

bool CConsoleWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == client_ && event->type() == QEvent::Resize)
        LayoutControls();
    return QMainWindow::eventFilter(watched, event);
}

QIcon CConsoleWindow::ProgramIcon()
{
    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(QColor(0x2f, 0x6f, 0xb5));
    painter.setPen(Qt::NoPen);
    painter.drawEllipse(1, 1, 30, 30);
    painter.setPen(Qt::white);
    QFont font = painter.font();
    font.setBold(true);
    font.setPixelSize(20);
    painter.setFont(font);
    painter.drawText(pixmap.rect(), Qt::AlignCenter, QStringLiteral("Q"));
    painter.end();
    return QIcon(pixmap);
}

} // namespace quorvel::window
