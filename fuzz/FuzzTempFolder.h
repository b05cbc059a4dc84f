#pragma once

#include "quorvel_test_support/TempFolder.h"

// One scratch folder under /tmp for the whole run of a file-reading fuzz
// target: made at first use, removed with its contents at exit.
inline const quorvel::testsupport::TempFolder& FuzzTempFolder()
{
    static const quorvel::testsupport::TempFolder folder("quorvel_fuzz");
    return folder;
}
