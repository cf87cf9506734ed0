#include "chat/qq_export.h"
