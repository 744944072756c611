#pragma once

#include <memory>

#include <QStringList>
#include <QTemporaryDir>
#include <QTimer>

#include "FakeCentralServer.h"

class MainWindow;
class Ui_MainWindow;

// The client's main window built and initialised as the program does it, in a temporary home
// folder, against a loopback fake of the central server, with the update check and the gateway
// look pointed at a closed loopback port. The store and the managers are process-wide, so a test
// process makes one run. Modal boxes are answered as a user would: the first-run account dialog
// gets the user name and password given, message boxes are acknowledged and recorded.
class MainWindowRun
{
public:
    explicit MainWindowRun(const QString& username = "alice", const QString& password = "secret");
    ~MainWindowRun();

    // Shows the window and runs its Init; the fake answers the login as scripted before this.
    void Start();
    // A whole client starting under the sanitizers beside other tests can take several seconds,
    // and a first attempt that fails is tried again on the next half-minute tick.
    bool WaitLoggedIn(int timeoutMs = 45000);

    MainWindow* Window() const { return window; }
    Ui_MainWindow* Form() const;
    FakeCentralServer& Server() { return fake; }
    QString Home() const { return home.path(); }

    // Stops and starts answering modal boxes, for a test that answers one itself.
    void SetAnswering(bool on) { on ? answering.start(20) : answering.stop(); }

    // "title: text" of each message box answered, oldest first.
    QStringList boxes;
    // The button clicked in a box that has it; other boxes, and every box while this is
    // NoButton, are acknowledged.
    int boxAnswer = 0;

private:
    void AnswerModalBoxes();

    QTemporaryDir home;
    FakeCentralServer fake;
    QTimer answering;
    QString username;
    QString password;
    MainWindow* window = nullptr;
};
