#include "chat/qq_messages.h"
