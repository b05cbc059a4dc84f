#pragma once

#include "ScenarioUser.h"
#include "ServerUnderTest.h"

// The usual cast of a scenario: a server "hub" whose directory file holds
// the users alice and bob (not started yet), and a client for each.
struct TwoUserHub {
    TwoUserHub()
    {
        hub.AddUser("alice", "alice-pw");
        hub.AddUser("bob", "bob-pw");
    }

    // Starts the server and logs both users in.
    bool StartAndLogIn() { return hub.Start() && alice.LogIn() && bob.LogIn(); }

    ServerUnderTest hub{"hub"};
    ScenarioUser alice{hub, "alice", "alice-pw"};
    ScenarioUser bob{hub, "bob", "bob-pw"};
};
