#include "ProgramGlobals.h"

using quorvel::shell::CServerApp;
using quorvel::store::CMsgSendThread;
using scrivlet::CLog4c;

CServerApp theApp;
CLog4c theLog;
CMsgSendThread theWorker(theLog);
