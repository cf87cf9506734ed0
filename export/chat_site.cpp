#include "export/chat_site.h"
