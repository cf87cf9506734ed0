#include "testing/sample_wechat_messages.h"
