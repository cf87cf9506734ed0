#include "chat/wechat_session.h"
