#include "CClientApp.h"

int main(int argc, char** argv)
{
    CClientApp app;
    return app.Run(argc, argv);
}
