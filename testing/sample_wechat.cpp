#include "testing/sample_wechat.h"
