#include "core/usererr.h"

i32 g_UserErrCount = 0;
u32 g_UserErrCodes[USER_ERR_MAX];
const char* g_UserErrTexts[USER_ERR_MAX];

void UserErrReset() {
  g_UserErrCount = 0;
  for (int i = 0; i < USER_ERR_MAX; i++) {
    g_UserErrCodes[i] = 0;
    g_UserErrTexts[i] = "";
  }
}
