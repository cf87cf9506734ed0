#include "export/chat_package.h"
