#include "chat/qq_account.h"
