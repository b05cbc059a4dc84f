#pragma once

#include "TestListener.h"

// Answers like a server named "hub" would, for the cases the client tests
// need: a login succeeds (unless the password is "wrong"), and a chat
// message to bob@hub is answered by bob with "hello back", and bob sends
// every file chunk he receives straight back to its sender.
TestListener::Responder HubResponder();
