#pragma once

#include "quorvel_store/CMsgSendThread.h"
#include "quorvel_shell/CServerApp.h"
#include "scrivlet/CLog4c.h"

using quorvel::shell::CServerApp;
using quorvel::store::CMsgSendThread;
using scrivlet::CLog4c;

// The program's global objects, defined together in ProgramGlobals.cpp so
// they are constructed in this order before main and destroyed in reverse
// order at exit: the application object, the one log, then the delivery
// worker. The worker goes first at exit, while the log still takes its
// lines, and the log's destruction writes the lines still pending. Only the
// programs' main files use them; every other component receives them as
// references when it is made.
extern CServerApp theApp;
extern CLog4c theLog;
extern CMsgSendThread theWorker;
