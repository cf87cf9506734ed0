#include "testing/sample_qq.h"
