// The project's error texts, read from "chbin\zpe.zbn" by the script loader: up to 256 codes,
// searched in order by the error reporter. Texts point into the kept file image.
#pragma once
#include "common/types.h"

enum { USER_ERR_MAX = 256 };

extern i32 g_UserErrCount;
extern u32 g_UserErrCodes[USER_ERR_MAX];
extern const char* g_UserErrTexts[USER_ERR_MAX];

// Empties the table (every text the empty string).
void UserErrReset();
