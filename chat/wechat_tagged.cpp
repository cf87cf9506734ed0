#include "chat/wechat_tagged.h"
