// The kit library: writers shared by zpkit and the tests.
#include "kit/kit.h"
