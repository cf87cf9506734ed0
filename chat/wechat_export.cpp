#include "chat/wechat_export.h"
