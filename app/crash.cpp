#include "app/crash.h"
