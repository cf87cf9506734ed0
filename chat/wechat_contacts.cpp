#include "chat/wechat_contacts.h"
