#include "chat/wechat_messages.h"
