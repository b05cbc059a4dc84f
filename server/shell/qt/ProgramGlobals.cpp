#include "ProgramGlobals.h"

CServerApp theApp;
CLog4c theLog;
CMsgSendThread theWorker(theLog);
