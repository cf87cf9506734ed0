#include "chat/whatsapp_db.h"
