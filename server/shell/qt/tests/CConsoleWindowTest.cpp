// The console window with the real console logic behind it, drawn off
// screen: commands go to the service loop, state and log lines come back.

#include "CConsoleWindow.h"
#include "COptionsDlg.h"
#include "CQtConsoleView.h"
#include "quorvel_shell/CServerApp.h"
#include "quorvel_store/CMsgSendThread.h"
#include "quorvel_shell/CServerConsoleDlg.h"
#include "quorvel_test_support/FreePort.h"
#include "corvane/CEventLoopThread.h"
#include "scrivlet/CLog4c.h"

#include <QAction>
#include <QCheckBox>
#include <QFile>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <memory>
#include <thread>

using corvane::CEventLoopThread;
using quorvel::shell::CServerApp;
using quorvel::shell::CServerConsoleDlg;
using quorvel::store::CMsgSendThread;
using quorvel::testsupport::FreePort;
using quorvel::window::CConsoleWindow;
using quorvel::window::COptionsDlg;
using quorvel::window::CQtConsoleView;
using scrivlet::CLog4c;

class CConsoleWindowTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void ButtonsFollowTheService();
    void LinesLoggedOnOtherThreadsReachTheView();
    void ClosingWithoutATrayIsTheExitCommand();
    void TheExitCommandEndsTheEventLoop();
    void ControlsArePlacedByTheLayout();
    void TheLogViewStartsAfreshPastItsLimit();
    void OptionsDialogReportsItsBox();
    void StatusMenuShowsTheBlock();

private:
    void Post(CConsoleWindow::Command command);

    std::unique_ptr<QTemporaryDir> dir_;
    std::unique_ptr<CLog4c> log_;
    std::unique_ptr<CServerApp> app_;
    std::unique_ptr<CMsgSendThread> worker_;
    std::unique_ptr<CEventLoopThread> loop_;
    std::unique_ptr<CConsoleWindow> window_;
    std::unique_ptr<CQtConsoleView> view_;
    std::unique_ptr<CServerConsoleDlg> console_;
};

void CConsoleWindowTest::Post(CConsoleWindow::Command command)
{
    loop_->Loop().Post([this, command = std::move(command)] { command(*console_); });
}

void CConsoleWindowTest::init()
{
    dir_ = std::make_unique<QTemporaryDir>();
    QVERIFY(dir_->isValid());
    log_ = std::make_unique<CLog4c>();
    app_ = std::make_unique<CServerApp>();
    QVERIFY(app_->InitInstance(*log_, dir_->path().toStdString()));
    QFile xml(dir_->filePath("config/server.xml"));
    QVERIFY(xml.open(QIODevice::WriteOnly));
    xml.write(QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<msg><neighbor/><route-server/>"
                             "<server name=\"hub\" ip=\"127.0.0.1\" port=\"%1\" description=\"演示\"/></msg>\n")
                  .arg(FreePort())
                  .toUtf8());
    xml.close();
    worker_ = std::make_unique<CMsgSendThread>(*log_);
    loop_ = std::make_unique<CEventLoopThread>();
    window_ = std::make_unique<CConsoleWindow>([this](CConsoleWindow::Command command) { Post(std::move(command)); });
    view_ = std::make_unique<CQtConsoleView>(*window_);
    console_ = std::make_unique<CServerConsoleDlg>(*app_, *log_, *worker_, *view_);
    QVERIFY(loop_->Loop().Call([this] { console_->OnInitDialog(nullptr); }));
    window_->show();
}

void CConsoleWindowTest::cleanup()
{
    loop_->Loop().Call([this] { console_.reset(); });
    view_.reset();
    window_.reset();
    loop_.reset();
    worker_.reset();
    app_.reset();
    log_.reset();
    dir_.reset();
}

void CConsoleWindowTest::ButtonsFollowTheService()
{
    QTRY_VERIFY(window_->StartButton()->isEnabled());
    QVERIFY(!window_->StopButton()->isEnabled());
    QTest::mouseClick(window_->StartButton(), Qt::LeftButton);
    QTRY_VERIFY(window_->StopButton()->isEnabled());
    QVERIFY(!window_->StartButton()->isEnabled());
    QTRY_VERIFY(window_->windowTitle().startsWith(QStringLiteral("聊天服务器[名称:hub IP:127.0.0.1")));
    QVERIFY(window_->windowTitle().endsWith(QStringLiteral("描述:演示]")));
    QTest::mouseClick(window_->StopButton(), Qt::LeftButton);
    QTRY_VERIFY(window_->StartButton()->isEnabled());
    QVERIFY(!window_->StopButton()->isEnabled());
}

void CConsoleWindowTest::LinesLoggedOnOtherThreadsReachTheView()
{
    // The console logs its start-up lines on the service loop's thread.
    QTRY_VERIFY(window_->LogEdit()->toPlainText().contains(QStringLiteral("INFOR 系统启动成功!")));
    std::thread([this] { log_->LogEvent(1, "from a worker thread"); }).join();
    QTRY_VERIFY(window_->LogEdit()->toPlainText().contains(QStringLiteral("DEBUG from a worker thread")));
}

void CConsoleWindowTest::ClosingWithoutATrayIsTheExitCommand()
{
    QVERIFY(!window_->HasTrayIcon());   // the offscreen platform has no notification area
    QTest::mouseClick(window_->StartButton(), Qt::LeftButton);
    QTRY_VERIFY(window_->StopButton()->isEnabled());
    window_->close();
    // The exit command stopped the service: the stop button went off.
    QTRY_VERIFY(window_->StartButton()->isEnabled());
    bool running = true;
    QVERIFY(loop_->Loop().Call([&] { running = console_->Host().Service() != nullptr; }));
    QVERIFY(!running);
}

void CConsoleWindowTest::TheExitCommandEndsTheEventLoop()
{
    // The close becomes the exit command; its end of the program must not be
    // refused by the window it closes. A stuck loop ends with 1 after 20 s.
    QTimer::singleShot(0, window_.get(), [this] { window_->close(); });
    QTimer::singleShot(20000, qApp, [] { QCoreApplication::exit(1); });
    QCOMPARE(QCoreApplication::exec(), 0);
}

void CConsoleWindowTest::ControlsArePlacedByTheLayout()
{
    window_->resize(700, 500);
    QTRY_COMPARE(window_->size(), QSize(700, 500));
    // After a resize each control sits where the console's layout puts it
    // in the new client area.
    const QWidget* client = window_->centralWidget();
    const auto layout = CServerConsoleDlg::LayoutControls(client->width(), client->height());
    const auto place = [](const CServerConsoleDlg::Rect& r) { return QRect(r.x, r.y, r.width, r.height); };
    QTRY_COMPARE(window_->StartButton()->geometry(), place(layout.start));
    QCOMPARE(window_->StopButton()->geometry(), place(layout.stop));
    QCOMPARE(window_->OptionsButton()->geometry(), place(layout.options));
    QCOMPARE(window_->LogEdit()->geometry(), place(layout.page));
}

void CConsoleWindowTest::TheLogViewStartsAfreshPastItsLimit()
{
    QTRY_VERIFY(window_->LogEdit()->toPlainText().contains(QStringLiteral("系统启动成功")));
    const std::string line(98, 'x');
    for (int i = 0; i < 90; ++i)
        window_->AppendLogText(line + "\r\n");
    // The view passed 8192 characters once and started again from one line.
    const QString text = window_->LogEdit()->toPlainText();
    QVERIFY(!text.contains(QStringLiteral("系统启动成功")));
    QVERIFY(text.size() < 8192);
    QVERIFY(text.startsWith(QString::fromStdString(line)));
}

void CConsoleWindowTest::OptionsDialogReportsItsBox()
{
    COptionsDlg dialog(true, window_.get());
    QVERIFY(dialog.Checked());
    dialog.CheckBox()->setChecked(false);
    QVERIFY(!dialog.Checked());
}

void CConsoleWindowTest::StatusMenuShowsTheBlock()
{
    QTest::mouseClick(window_->StartButton(), Qt::LeftButton);
    QTRY_VERIFY(window_->StopButton()->isEnabled());
    window_->StatusAction()->trigger();
    QTRY_VERIFY(window_->StatusBox() != nullptr && window_->StatusBox()->isVisible());
    const QString text = window_->StatusBox()->text();
    QVERIFY2(text.startsWith(QStringLiteral("status: listening on port ")), qPrintable(text));
    QVERIFY(text.contains(QStringLiteral("\nconnections: 0 open")));
    // The box does not hold up the window.
    QVERIFY(!window_->StatusBox()->isModal());
}

QTEST_MAIN(CConsoleWindowTest)
#include "CConsoleWindowTest.moc"
