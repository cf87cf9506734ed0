#include "chat/wechat_account.h"
